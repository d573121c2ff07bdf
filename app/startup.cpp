#include "app/startup.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include "app/error.h"
#include "app/process_values.h"
#include "app/settings.h"
#include "platform/system.h"

namespace mr4 {
namespace {

// The credit window: three lines shown while start-up loads. Headless, its
// lines go to stderr with --verbose only.
class CreditWindow {
 public:
  explicit CreditWindow(bool visible) : visible_(visible) {}
  void SetLine(int line, const std::string& text) {
    if (visible_) std::fprintf(stderr, "[%d] %s\n", line, text.c_str());
  }

 private:
  bool visible_;
};

bool EnterHome(const StartupOptions& options) {
  if (!options.home) return true;
  std::error_code ec;
  std::filesystem::current_path(*options.home, ec);
  if (ec) {
    std::fprintf(stderr, "mr4: cannot enter home directory %s: %s\n",
                 options.home->c_str(), ec.message().c_str());
    return false;
  }
  return true;
}

void SeedExportScrambler() {
  using namespace std::chrono;
  auto now = system_clock::now().time_since_epoch();
  auto ms = duration_cast<milliseconds>(now).count();
  App().scrambler.Seed(static_cast<std::uint32_t>(ms % 1000),
                       static_cast<std::uint32_t>(ms / 1000));
}

}  // namespace

bool StartUp(const StartupOptions& options) {
  AppState& app = App();
  app.startup_aborted = false;
  app.replay_ended = 0;

  // Step 1: nothing to register or initialise on Linux (no COM, no GDI+).
  // Step 2: version strings.
  app.version_number_text = MakeVersionNumberText();
  app.version_title = MakeVersionTitle();

  // Step 3: the credit window.
  CreditWindow credit(options.verbose);
  credit.SetLine(1, app.version_title);
  credit.SetLine(2, "Ground Map :");
  credit.SetLine(3, "Star Map : ");

  // Step 4: the home directory is the current directory.
  std::error_code ec;
  app.home = std::filesystem::current_path(ec);
  if (ec || app.home.native().size() > kHomeDirectoryMaxChars) app.home.clear();

  // Step 5: string store. Step 6: leap-second table and list.

  // Step 7: export scrambler.
  SeedExportScrambler();

  // Step 8: settings defaults, then the settings file.
  ApplyDefaultSettings();
  ReadSettings();

  // Step 9: analysis-context limit from the free memory.
  app.context_limit = ComputeContextLimit(
      options.free_mib_override ? options.free_mib_override
                                : FreePhysicalMemoryMiB());
  Settings& settings = AppSettings();
  if (settings.gPAN > app.context_limit) settings.gPAN = app.context_limit;

  // Step 10: calendar tables.

  // Step 11: YUV tables.
  app.yuv = BuildYuvTables();

  // Steps 12 and 13: ground map. Step 14: star catalogue.

  // Step 15: the credit window closes.
  if (app.startup_aborted) return false;

  // Steps 16 to 19: the tables, their files, the shower catalogue.
  // Step 20: the replay thread.
  app.replay_ended = 1;  // no replay thread yet: nothing to wait for
  return true;
}

void ShutDown() {
  AppState& app = App();
  if (!app.startup_aborted) {
    // Step 22: ask the replay thread to end.
    // Step 23: write the persistent tables. Step 24: free the tables.
    // Step 25: write the settings file.
    WriteSettings();
    // Step 26: wait for the replay thread.
    while (app.replay_ended.load() != 1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  // Step 27: free the leap-second table, the string store and the buffers.
}

int RunApplication(const StartupOptions& options,
                   const std::function<int()>& main_window) {
  if (!EnterHome(options)) return 1;
  if (!StartUp(options)) {
    ShutDown();
    return 1;
  }
  int result = main_window();  // step 21
  ShutDown();
  return result;
}

}  // namespace mr4
