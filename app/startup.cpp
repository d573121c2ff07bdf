#include "app/startup.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include "analysis/analysis_context.h"
#include "analysis/showers.h"
#include "base/error.h"
#include "base/process_values.h"
#include "app/settings.h"
#include "astro/time_scales.h"
#include "calib/star_catalogue.h"
#include "platform/directory_lock.h"
#include "platform/system.h"
#include "replay/replay_thread.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr std::chrono::milliseconds kReplayEndLimit{3000};

// The home's lock, held from start-up to the end of shut-down.
DirectoryLock g_home_lock;
bool g_home_in_use = false;

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
  // One program at a time in a home: a second one would read settings and
  // tables the first is about to overwrite, and share its clips' files.
  g_home_in_use = false;
  if (!app.home.empty() &&
      g_home_lock.Acquire(HomeFile(kHomeLockFileName), options.home_lock_wait) ==
          DirectoryLock::Result::kHeld) {
    ShowError("The home directory %s is in use by %s.\nOne program at a time can use a "
              "home directory: try again when it has ended.",
              app.home.c_str(), g_home_lock.holder().c_str());
    g_home_in_use = true;
    app.startup_aborted = true;
    return false;
  }

  // Step 5: the string store's first block.
  Strings().Prime();

  // Step 6: the leap-second table and list (FatalCode 9001 for 0 or more
  // than 99 rows).
  app.leap_seconds =
      BuildLeapSecondList(LoadLeapSecondTable(HomeFile(kLeapSecondFileName)));

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
  // The current context and those of the parallel workers; their images
  // are reserved pages, committed only where a run writes.
  AllocateAnalysisContext(AnalysisContextAt(0));
  AllocateParallelContexts(settings.gPAN);

  // Step 10: calendar tables.
  BuildCalendarTables();

  // Step 11: YUV tables.
  app.yuv = BuildYuvTables();

  // Steps 12 and 13: ground map.

  // Step 14: the star catalogue. Each analysis context lists the stars its
  // profile sees when a clip is prepared for it.
  if (!app.startup_aborted) {
    credit.SetLine(3, "Star Map : Smap200S.csv  --->  loading");
    if (LoadStarCatalogue(HomeFile(kStarCatalogueFileName), StarMap())) {
      credit.SetLine(3, "Star Map : Smap200S.csv  --->  LOADED");
    } else {
      app.startup_aborted = true;
    }
  }

  // Step 15: the credit window closes.
  if (app.startup_aborted) return false;

  // Steps 16 and 17: the tables; the extra-class and clip-directory files.
  CreateTables(app.home);
  // Step 18: a profile whose file is missing is not used in this run.
  HoldMissingProfiles([](std::string_view profile) {
    std::error_code exists_ec;
    return std::filesystem::exists(ProfileFile(profile), exists_ec);
  });
  // Step 19: the shower catalogue, prepared for the year "AP.Y".
  LoadShowerCatalogue(app.home, settings.catalog);
  PrepareShowerTable(settings.Y);
  // Step 20: the replay thread (it sets replay_ended when it ends).
  StartReplayThread();
  return true;
}

bool HomeInUse() { return g_home_in_use; }

bool SavePersistentTables() {
  const AppState& app = App();
  return app.home.empty() || WritePersistentTables(app.home);
}

bool ShutDown() {
  AppState& app = App();
  bool saved = true;
  if (!app.startup_aborted) {
    // Step 22: ask the replay thread to end.
    if (ReplayThreadStarted()) ReplayThread().PostCommand(kReplayQuit);
    // Step 23: write the persistent tables. Step 24: free the tables.
    saved = SavePersistentTables();
    FreeTables();
    // Step 25: write the settings file.
    saved = WriteSettings() && saved;
    // Step 26: wait for the replay thread, a few seconds at most: a thread
    // stuck in the media framework must not keep the program from ending.
    FinishReplayThread(kReplayEndLimit);
  }
  // Step 27: free the leap-second table, the string store and the buffers;
  // the home is free for the next program.
  FreeLeapSecondTable();
  Strings().FreeAll();
  g_home_lock.Release();
  return saved;
}

int RunApplication(const StartupOptions& options,
                   const std::function<int()>& main_window) {
  if (!EnterHome(options)) return kRunStartupAborted;
  if (!StartUp(options)) {
    ShutDown();
    return HomeInUse() ? kRunHomeInUse : kRunStartupAborted;
  }
  const int result = main_window();  // step 21
  const bool saved = ShutDown();
  return result == 0 && !saved ? kRunNotSaved : result;
}

}  // namespace mr4
