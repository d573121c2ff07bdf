#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/console_ui.h"
#include "platform/scripted_ui.h"
#include "platform/system.h"

namespace fs = std::filesystem;

namespace mr4 {
namespace {

fs::path MakeTempDir(const char* name) {
  fs::path dir = fs::temp_directory_path() /
                 (std::string(name) + "." + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(Platform, MoveToTrashUsesTheXdgTrash) {
  // GLib reads XDG_DATA_HOME once; this test sets it before any other use.
  fs::path root = MakeTempDir("mr4-trash");
  setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  setenv("HOME", root.c_str(), 1);
  fs::create_directories(root / "data");
  fs::path clip = root / "M20240812_010203_SIM.avi";
  std::ofstream(clip) << "frames";

  std::string error;
  ASSERT_TRUE(MoveToTrash(clip, &error)) << error;
  EXPECT_FALSE(fs::exists(clip));
  EXPECT_TRUE(fs::exists(root / "data/Trash/files/M20240812_010203_SIM.avi"));

  EXPECT_FALSE(MoveToTrash(root / "no-such-file", &error));
  EXPECT_FALSE(error.empty());
  fs::remove_all(root);
}

TEST(Platform, StorageDeviceKeyIsTheDeviceOfTheDirectory) {
  fs::path dir = MakeTempDir("mr4-dev");
  fs::create_directories(dir / "sub");
  struct stat st {};
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(StorageDeviceKey(dir), static_cast<std::uint64_t>(st.st_dev));
  EXPECT_EQ(StorageDeviceKey(dir), StorageDeviceKey(dir / "sub"));
  EXPECT_FALSE(StorageDeviceKey(dir / "missing").has_value());
  fs::remove_all(dir);
}

TEST(Platform, FreeMemoryAndDocumentsFolderAnswer) {
  auto mib = FreePhysicalMemoryMiB();
  ASSERT_TRUE(mib.has_value());
  EXPECT_GT(*mib, 0u);
  EXPECT_FALSE(DocumentsFolder().empty());
}

TEST(Platform, OpenWithDefaultAppFailsCleanlyForAMissingFile) {
  std::string error;
  // With no desktop session there may be no handler at all; either way the
  // call must return and say why when it fails.
  if (!OpenWithDefaultApp("/nonexistent/mr4/file.unknownext", &error)) {
    EXPECT_FALSE(error.empty());
  }
}

TEST(ScriptedUi, RecordsAndAnswersFromItsQueues) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  CurrentUi().Message("Qor series", "hello", MessageIcon::kNone);
  ui.QueueAnswer(true);
  EXPECT_TRUE(CurrentUi().AskOkCancel("Qor series", "first ok?"));
  EXPECT_FALSE(CurrentUi().AskOkCancel("Qor series", "second ok?"));
  EXPECT_EQ(CurrentUi().SaveFile({"save", "/tmp/a.png", ""}),
            fs::path("/tmp/a.png"));
  ui.QueuePath(std::nullopt);
  EXPECT_FALSE(CurrentUi().OpenFile({"open", "/tmp/b.xml", ""}).has_value());

  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text, "hello");
  EXPECT_EQ(ui.questions(),
            (std::vector<std::string>{"first ok?", "second ok?"}));
}

TEST(ConsoleUi, DeclinesQuestionsUnlessToldYes) {
  std::FILE* err = std::tmpfile();
  ConsoleUi::Options options;
  options.err = err;
  ConsoleUi declining(options);
  EXPECT_FALSE(declining.AskOkCancel("Qor series", "delete 3 files ok?"));
  declining.Message("Qor series", "Cannot load x", MessageIcon::kNone);
  options.answer_yes = true;
  ConsoleUi accepting(options);
  EXPECT_TRUE(accepting.AskOkCancel("Qor series", "delete 3 files ok?"));
  EXPECT_FALSE(declining.AskYesNo("Qor series", "replace?"));
  // The count decides the command's exit status.
  EXPECT_EQ(declining.declined(), 2);
  EXPECT_EQ(accepting.declined(), 0);

  std::rewind(err);
  char buffer[512] = {};
  size_t n = std::fread(buffer, 1, sizeof buffer - 1, err);
  std::fclose(err);
  std::string text(buffer, n);
  EXPECT_EQ(text,
            "Qor series: declined (run with --yes to accept): delete 3 files "
            "ok?\nQor series: Cannot load x\n"
            "Qor series: declined (run with --yes to accept): replace?\n");
  EXPECT_EQ(declining.SaveFile({"save", "", ""}), std::nullopt);
  EXPECT_EQ(declining.SaveFile({"save", "/x/y.csv", ""}), fs::path("/x/y.csv"));
}

}  // namespace
}  // namespace mr4
