#include "clips/clip_file_ops.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

#include "base/error.h"
#include "app/settings.h"
#include "astro/time_scales.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "platform/file_replace.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "replay/replay_thread.h"
#include "tables/table_catalogue.h"

extern char** environ;

namespace mr4 {
namespace {

namespace fs = std::filesystem;

constexpr char kTrashFolder[] = "Trash";

std::string ErrnoText(int error) { return std::strerror(error); }

// Same device and inode (links followed): moving one onto the other would
// replace the file by itself.
bool SameFile(const fs::path& a, const fs::path& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// True when anything (a dangling link too) has the name.
bool NameTaken(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

enum class Placed { kOk, kExists, kFailed };

// Renames without replacing; kExists when the name is taken. EXDEV is
// returned in `error_number` for the caller to copy instead.
Placed RenameNoReplace(const fs::path& from, const fs::path& to, int* error_number) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return Placed::kOk;
  }
  int e = errno;
  if (e == EINVAL || e == ENOSYS) {
    // A file system without the flag: a hard link refuses a taken name.
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) == 0) return Placed::kOk;
      e = errno;
      ::unlink(to.c_str());
    } else {
      e = errno;
      // Nor hard links (FAT, exFAT disks): look, then rename.
      if (e == EPERM || e == EOPNOTSUPP) {
        if (NameTaken(to)) return Placed::kExists;
        if (::rename(from.c_str(), to.c_str()) == 0) return Placed::kOk;
        e = errno;
      }
    }
  }
  *error_number = e;
  return e == EEXIST ? Placed::kExists : Placed::kFailed;
}

// Copies `from` to a new hidden temporary file in `folder`, flushed to disk
// and checked for size; returns its path, or empty with `error` set.
fs::path CopyToTemporary(const fs::path& from, const fs::path& folder,
                         std::string* error) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *error = ErrnoText(errno);
    return {};
  }
  struct stat source {};
  if (::fstat(in, &source) != 0) {
    *error = ErrnoText(errno);
    ::close(in);
    return {};
  }
  fs::path temporary;
  const int out = CreateTemporaryBeside(folder / from.filename(), &temporary);
  if (out < 0) {
    *error = ErrnoText(errno);
    ::close(in);
    return {};
  }
  bool ok = true;
  std::vector<char> buffer(1 << 20);
  std::uint64_t copied = 0;
  while (ok) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = "read: " + ErrnoText(errno);
      ok = false;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        *error = "write: " + ErrnoText(errno);
        ok = false;
        break;
      }
      done += w;
    }
    copied += static_cast<std::uint64_t>(n);
  }
  struct stat written {};
  if (ok && ::fsync(out) != 0) {
    *error = "flush: " + ErrnoText(errno);
    ok = false;
  }
  if (ok && (::fstat(out, &written) != 0 ||
             static_cast<std::uint64_t>(written.st_size) != copied ||
             copied != static_cast<std::uint64_t>(source.st_size))) {
    *error = "the copy's size differs from the source's";
    ok = false;
  }
  if (ok) {
    ::fchmod(out, source.st_mode & 07777);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    ::futimens(out, times);
  }
  if (::close(out) != 0 && ok) {
    *error = "close: " + ErrnoText(errno);
    ok = false;
  }
  ::close(in);
  if (!ok) {
    ::unlink(temporary.c_str());
    return {};
  }
  return temporary;
}

void SyncDirectory(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Renames a complete temporary copy into place at `to` (replacing only
// when `replace`); on failure the temporary is removed.
Placed PlaceTemporary(const fs::path& temporary, const fs::path& to, bool replace,
                      std::string* error) {
  Placed placed = Placed::kOk;
  if (replace) {
    if (::rename(temporary.c_str(), to.c_str()) != 0) {
      *error = ErrnoText(errno);
      placed = Placed::kFailed;
    }
  } else {
    int e = 0;
    placed = RenameNoReplace(temporary, to, &e);
    if (placed == Placed::kFailed) *error = ErrnoText(e);
  }
  if (placed != Placed::kOk) {
    ::unlink(temporary.c_str());
    return placed;
  }
  SyncDirectory(to.parent_path());
  return Placed::kOk;
}

// Puts a complete copy of `from` at `to` (replacing only when `replace`);
// the source stays. The target never exists half-written.
Placed CopyInto(const fs::path& from, const fs::path& to, bool replace, std::string* error) {
  const fs::path temporary = CopyToTemporary(from, to.parent_path(), error);
  if (temporary.empty()) return Placed::kFailed;
  return PlaceTemporary(temporary, to, replace, error);
}

// Moves `from` to `to`: a rename on one file system (atomic, replacing
// only when `replace`), else a complete copy put into place before the
// source is removed. On failure the source is where it was.
Placed MoveInto(const fs::path& from, const fs::path& to, bool replace, std::string* error) {
  int e = 0;
  if (replace) {
    if (::rename(from.c_str(), to.c_str()) == 0) return Placed::kOk;
    e = errno;
  } else {
    const Placed placed = RenameNoReplace(from, to, &e);
    if (placed != Placed::kFailed) return placed;
  }
  if (e != EXDEV) {
    *error = ErrnoText(e);
    return Placed::kFailed;
  }
  const Placed placed = CopyInto(from, to, replace, error);
  if (placed != Placed::kOk) return placed;
  if (::unlink(from.c_str()) != 0) {
    *error = "copied, but the source could not be removed: " + ErrnoText(errno);
    return Placed::kFailed;
  }
  return Placed::kOk;
}

std::uint64_t FileBytes(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// Into the "Trash" folder of the file's directory, under a free name (the
// name, else "NAME.~N~"): a file already there is never replaced.
bool MoveToTrashFolder(const fs::path& file, std::string* error) {
  const fs::path folder = file.parent_path() / kTrashFolder;
  std::error_code ec;
  std::error_code again;
  if (!fs::is_directory(folder, ec) && !fs::create_directory(folder, ec) &&
      !fs::is_directory(folder, again)) {
    *error = "cannot create " + folder.native() + ": " + ec.message();
    return false;
  }
  const std::string name = file.filename().native();
  for (int n = 0; n < 10000; ++n) {
    const fs::path target =
        folder / (n == 0 ? name : name + ".~" + std::to_string(n) + "~");
    const Placed placed = MoveInto(file, target, false, error);
    if (placed == Placed::kOk) return true;
    if (placed == Placed::kFailed) return false;
  }
  *error = "no free name in " + folder.native();
  return false;
}

// The directory row at list position `position` (the clip's `dirline`).
int DirectoryRowAt(int position) {
  const Table& dirs = Tables().dir;
  int at = 0;
  for (int r = 0; r < dirs.count(); ++r) {
    if (!dirs.Exists(r)) continue;
    if (at++ == position) return r;
  }
  return -1;
}

bool StopRequested(const FileOpRun& run) {
  return run.stop != nullptr && run.stop->load();
}

// One file of a clip on its way: where it goes, whether it replaces a file
// there (the user agreed), and its temporary copy while it has one.
struct ClipFileMove {
  fs::path file, target;
  bool replace = false;
  std::uint64_t bytes = 0;
  fs::path temporary;
};

// Asks the overwrite question unless the run's answer is known; false on
// Cancel.
bool OverwriteAgreed(const fs::path& target, FileOpRun& run) {
  if (run.overwrite_all) return true;
  char text[kMessageMaxChars + 1];
  std::snprintf(text, sizeof text, "Destination file already exists overwrite?\n%s",
                target.c_str());
  if (!CurrentUi().AskOkCancel(kMessageCaption, text)) return false;
  run.overwrite_all = true;
  return true;
}

// The copies of one clip, all or none: every file is copied to a temporary
// in the destination first (a full disk fails here, before any file is
// placed), then each is renamed into place and, for a move, its source
// removed. Returns false on Cancel.
bool CopyClipAsAWhole(std::vector<ClipFileMove>& moves, bool copy, FileOpRun& run) {
  const char* verb = copy ? "copy" : "move";
  for (ClipFileMove& m : moves) {
    std::string error;
    m.temporary = CopyToTemporary(m.file, m.target.parent_path(), &error);
    if (!m.temporary.empty()) continue;
    for (const ClipFileMove& made : moves) {
      if (!made.temporary.empty()) ::unlink(made.temporary.c_str());
    }
    ShowError("Cannot %s %s to %s: %s\n(none of the clip's %d files were %s)", verb,
              m.file.c_str(), m.target.c_str(), error.c_str(), static_cast<int>(moves.size()),
              copy ? "copied" : "moved");
    run.failures += static_cast<int>(moves.size());
    return true;
  }
  for (std::size_t i = 0; i < moves.size(); ++i) {
    ClipFileMove& m = moves[i];
    std::string error;
    Placed placed = PlaceTemporary(m.temporary, m.target, m.replace, &error);
    if (placed == Placed::kExists) {
      // The name was taken since the look.
      if (!OverwriteAgreed(m.target, run)) {
        for (std::size_t j = i + 1; j < moves.size(); ++j) ::unlink(moves[j].temporary.c_str());
        return false;
      }
      m.temporary = CopyToTemporary(m.file, m.target.parent_path(), &error);
      placed = m.temporary.empty() ? Placed::kFailed
                                   : PlaceTemporary(m.temporary, m.target, true, &error);
    }
    if (placed != Placed::kOk) {
      ShowError("Cannot %s %s to %s: %s", verb, m.file.c_str(), m.target.c_str(),
                error.c_str());
      ++run.failures;
      continue;
    }
    if (!copy && ::unlink(m.file.c_str()) != 0) {
      ShowError("Cannot move %s to %s: copied, but the source could not be removed: %s",
                m.file.c_str(), m.target.c_str(), ErrnoText(errno).c_str());
      ++run.failures;
      continue;
    }
    ++run.files;
    run.bytes += m.bytes;
  }
  return true;
}

int MoveOrCopyClip(int row, const fs::path& destination, bool copy, FileOpRun& run) {
  const Table& clips = Tables().clip;
  const fs::path directory(clips.Text(row, clip::kDirectory));
  const std::string name(clips.Text(row, clip::kClipName));
  const std::vector<fs::path> files = ClipFiles(row);
  if (SameFile(directory, destination)) {
    ShowError("%s is already in %s: not %s", name.c_str(), destination.c_str(),
              copy ? "copied" : "moved");
    run.skipped += static_cast<int>(files.size());
    return 1;
  }
  const int failures_before = run.failures;
  bool all = true;
  // The questions first: Cancel leaves the whole clip where it was.
  std::vector<ClipFileMove> moves;
  for (const fs::path& file : files) {
    ClipFileMove m;
    m.file = file;
    m.target = destination / file.filename();
    if (SameFile(file, m.target)) {
      ShowError("%s and %s are the same file: not %s", file.c_str(), m.target.c_str(),
                copy ? "copied" : "moved");
      ++run.skipped;
      all = false;
      continue;
    }
    if (NameTaken(m.target)) {
      if (!OverwriteAgreed(m.target, run)) return 0;
      m.replace = true;
    }
    m.bytes = FileBytes(file);
    moves.push_back(std::move(m));
  }
  // A move on one file system renames each file (atomic); the files that
  // must cross to another file system are copied as a whole.
  std::vector<ClipFileMove> copies;
  for (ClipFileMove& m : moves) {
    if (copy) {
      copies.push_back(std::move(m));
      continue;
    }
    int e = 0;
    Placed placed = Placed::kFailed;
    if (m.replace) {
      placed = ::rename(m.file.c_str(), m.target.c_str()) == 0 ? Placed::kOk : Placed::kFailed;
      if (placed == Placed::kFailed) e = errno;
    } else {
      placed = RenameNoReplace(m.file, m.target, &e);
      if (placed == Placed::kExists) {
        // The name was taken since the look.
        if (!OverwriteAgreed(m.target, run)) return 0;
        m.replace = true;
        placed = ::rename(m.file.c_str(), m.target.c_str()) == 0 ? Placed::kOk : Placed::kFailed;
        if (placed == Placed::kFailed) e = errno;
      }
    }
    if (placed == Placed::kOk) {
      ++run.files;
      run.bytes += m.bytes;
    } else if (e == EXDEV) {
      copies.push_back(std::move(m));
    } else {
      ShowError("Cannot move %s to %s: %s", m.file.c_str(), m.target.c_str(),
                ErrnoText(e).c_str());
      ++run.failures;
    }
  }
  if (!copies.empty() && !CopyClipAsAWhole(copies, copy, run)) return 0;
  if (all && run.failures == failures_before) ++run.clips;
  return 1;
}

bool Checked(int row) {
  const Table& clips = Tables().clip;
  return clips.Exists(row) && clips.Int(row, clip::kCheck) != 0;
}

std::string Format(const char* format, const char* text) {
  char buffer[kMessageMaxChars + 1];
  std::snprintf(buffer, sizeof buffer, format, text);
  return buffer;
}

// Removes the OBJ rows of a clip's chain and clears its `oline`.
void DeleteClipObjects(int row) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  std::lock_guard lock(objects.lock());
  int object = clips.Int(row, clip::kOline);
  for (int guard = 0; object >= 0 && guard <= objects.count(); ++guard) {
    if (!objects.Exists(object)) break;
    const int next = objects.Int(object, obj::kOlinenext);
    objects.DeleteRow(object);
    object = next;
  }
  clips.SetInt(row, clip::kOline, -1);
}

// One level of cleaning; true when `directory` itself was removed. The
// temporaries a killed move or analysis left go on the way; empty dated
// folders only with `remove_folders`.
bool CleanLevel(const fs::path& directory, bool keep_self, bool remove_folders,
                CleaningResult& result) {
  int entries = 0;
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().native();
    const fs::path path = directory / name;
    std::error_code type_ec;
    // Never through a link: a linked folder is an entry, not a subfolder.
    const fs::file_status status = it->symlink_status(type_ec);
    if (IsLeftoverTemporary(name) && fs::is_regular_file(status)) {
      if (::unlink(path.c_str()) == 0) ++result.files;
      continue;
    }
    if (name.empty() || name[0] == '.') continue;
    if (fs::is_directory(status)) {
      CleanLevel(path, false, remove_folders, result);
      ++entries;  // removed or not, it was an entry of this listing
    } else if (fs::is_regular_file(status) && name == "Thumb.db" &&
               ::unlink(path.c_str()) == 0) {
      ++result.files;
    } else {
      ++entries;
    }
  }
  if (keep_self || !remove_folders || entries != 0) return false;
  if (directory.filename().native().rfind("20", 0) != 0) return false;
  // rmdir removes only an empty directory (hidden names keep it).
  if (::rmdir(directory.c_str()) != 0) return false;
  ++result.directories;
  return true;
}

}  // namespace

void CloseReplayGraph() {
  CurrentClip().replay_position = 0;
  if (!ReplayThreadStarted()) return;
  CReplayThread& replay = ReplayThread();
  // Posted even without a graph: a command still queued may be building one.
  replay.PostCommand(kReplayClose);
  // The files may be open in the graph: wait (boundedly) until it is gone.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (replay.Snapshot().state != kReplayNoGraph &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<fs::path> ClipFilesIn(const fs::path& directory, std::string_view clip_name) {
  std::vector<fs::path> files;
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().native();
    if (name.size() < clip_name.size() ||
        std::string_view(name).substr(0, clip_name.size()) != clip_name) {
      continue;
    }
    std::error_code type_ec;
    if (it->is_directory(type_ec)) continue;
    const ClassifiedFile file = ClassifyClipFile(name);
    bool mine = false;
    if (file.cls == ClipFileClass::kClipFile) {
      mine = file.base == clip_name;
    } else if (file.cls == ClipFileClass::kSkipped) {
      // "B.XML" and "L.csv": the clip's secondary result and trail log.
      mine = std::string_view(name).substr(0, name.size() - 5) == clip_name;
    }
    if (mine) files.push_back(directory / name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<fs::path> ClipFiles(int row) {
  const Table& clips = Tables().clip;
  return ClipFilesIn(fs::path(clips.Text(row, clip::kDirectory)),
                     clips.Text(row, clip::kClipName));
}

bool RemoveByTrashRules(const fs::path& file, FileOpRun& run) {
  const Settings& settings = AppSettings();
  const std::uint64_t bytes = FileBytes(file);
  std::string error;
  bool ok = false;
  if (settings.trashdir) {
    ok = MoveToTrashFolder(file, &error);
  } else if (settings.usetrash) {
    std::string trash_error;
    ok = run.system_trash(file, &trash_error);
    if (!ok) {
      // Never a permanent deletion while a trash setting is on.
      if (!run.trash_fallback_told) {
        ShowError("The system trash cannot take %s (%s):\ndeleted files go to the "
                  "\"Trash\" folder of their clip directory",
                  file.c_str(), trash_error.c_str());
        run.trash_fallback_told = true;
      }
      ok = MoveToTrashFolder(file, &error);
    }
  } else {
    ok = ::unlink(file.c_str()) == 0;
    if (!ok) error = ErrnoText(errno);
  }
  if (!ok) {
    ShowError("Cannot delete %s: %s", file.c_str(), error.c_str());
    ++run.failures;
    return false;
  }
  ++run.files;
  run.bytes += bytes;
  return true;
}

bool TrashClipFiles(int row, FileOpRun& run) {
  CloseReplayGraph();
  bool all = true;
  for (const fs::path& file : ClipFiles(row)) all = RemoveByTrashRules(file, run) && all;
  if (all) ++run.clips;
  return all;
}

int MoveClipFiles(int row, const fs::path& destination, FileOpRun& run) {
  CloseReplayGraph();
  return MoveOrCopyClip(row, destination, false, run);
}

int CopyClipFiles(int row, const fs::path& destination, FileOpRun& run) {
  CloseReplayGraph();
  return MoveOrCopyClip(row, destination, true, run);
}

fs::path NightFolder(int y, int mo, int d, int h) {
  if (h < 12) {
    const CivilTime night = MjdToCivil(CivilToMjd(y, mo, d, h, 0, 0.0f) - 1.0);
    y = night.year;
    mo = night.month;
    d = night.day;
  }
  char year[16], month[16], day[16];
  std::snprintf(year, sizeof year, "%4d", y);
  std::snprintf(month, sizeof month, "%04d%02d", y, mo);
  std::snprintf(day, sizeof day, "%04d%02d%02d", y, mo, d);
  return fs::path(year) / month / day;
}

bool RunAfterMoveCommand(const fs::path& command) {
  std::string error;
  struct stat st {};
  if (::stat(command.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      ::access(command.c_str(), X_OK) == 0) {
    // Started as it is, with no shell to read its name.
    std::string program = command.native();
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    const int e = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ);
    if (e == 0) {
      std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
      return true;
    }
    error = ErrnoText(e);
  } else if (OpenWithDefaultApp(command, &error)) {
    return true;
  }
  ShowError("Cannot run the after-move command %s: %s", command.c_str(), error.c_str());
  return false;
}

bool MoveCheckedClips(FileOpRun& run) {
  CloseReplayGraph();
  Ui& ui = CurrentUi();
  Table& dirs = Tables().dir;
  Table& clips = Tables().clip;
  // Rows whose save directory is missing or absent move nothing now. The
  // setting itself stays: an unmounted drive must not lose it.
  std::vector<bool> saving(static_cast<std::size_t>(dirs.count()), false);
  for (int r = 0; r < dirs.count(); ++r) {
    if (!dirs.Exists(r) || dirs.Uint(r, dir::kUse) == 0) continue;
    const fs::path save(dirs.Text(r, dir::kSaveDir));
    std::error_code ec;
    saving[static_cast<std::size_t>(r)] = !save.empty() && fs::is_directory(save, ec);
  }
  int count = 0;
  for (int r = clips.count() - 1; r >= 0; --r) {
    if (!Checked(r)) continue;
    const int dir_row = DirectoryRowAt(clips.Int(r, clip::kDirline));
    if (dir_row >= 0 && saving[static_cast<std::size_t>(dir_row)]) {
      ++count;
    } else {
      clips.SetInt(r, clip::kCheck, 0);
    }
  }
  const Settings& settings = AppSettings();
  const bool command_on = settings.moveendC != 0 && !settings.moveendcom.empty();
  const fs::path command(settings.moveendcom);
  if (count == 0) {
    if (command_on) {
      if (ui.AskOkCancel(kMessageCaption, "No move clips. execute \"after mvC\"?")) {
        RunAfterMoveCommand(command);
      }
    } else {
      ShowError("No clips to move");
    }
    return false;
  }
  char question[kMessageMaxChars + 1];
  if (command_on) {
    std::snprintf(question, sizeof question,
                  "Move Checked %d clips to 'save dir'\n and exec %s ok?", count,
                  settings.moveendcom.c_str());
  } else {
    std::snprintf(question, sizeof question, "Move Checked %d clips to 'save dir' ok?",
                  count);
  }
  if (!ui.AskOkCancel(kMessageCaption, question)) return false;
  ui.SetWaitCursor(true);
  run.overwrite_all = false;
  int number = 0;
  for (int r = 0; r < clips.count() && !StopRequested(run); ++r) {
    if (!Checked(r)) continue;
    ++number;
    const int dir_row = DirectoryRowAt(clips.Int(r, clip::kDirline));
    fs::path destination(dirs.Text(dir_row, dir::kSaveDir));
    std::error_code ec;
    if (!fs::is_directory(destination, ec) && !fs::create_directories(destination, ec)) {
      FatalError("Cannot Create Date Dir %s", destination.c_str());
    }
    const std::string name(clips.Text(r, clip::kClipName));
    if (dirs.Uint(dir_row, dir::kYmd) != 0) {
      const int y = clips.Int(r, clip::kY);
      // An undated clip has no night to be filed under (the date would
      // fall outside the calendar and end the program).
      if (y < 1900 || y > 2099) {
        ShowError("%s has no date to file it by: not moved", name.c_str());
        ++run.failures;
        continue;
      }
      destination /= NightFolder(y, clips.Int(r, clip::kMo), clips.Int(r, clip::kD),
                                 clips.Int(r, clip::kH));
      if (!fs::is_directory(destination, ec) && !fs::create_directories(destination, ec)) {
        FatalError("Cannot Create Date Dir %s", destination.c_str());
      }
    }
    char line[kMessageMaxChars + 1];
    std::snprintf(line, sizeof line, "%d/%d moving %s\n", number, count, name.c_str());
    ui.Status(line);
    MoveOrCopyClip(r, destination, false, run);
  }
  ReadClipDirectories();
  if (command_on) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    RunAfterMoveCommand(command);
  }
  ui.SetWaitCursor(false);
  return true;
}

bool IsDispatchTarget(int row, const DispatchSwitches& switches) {
  const Table& clips = Tables().clip;
  if (!clips.Exists(row)) return false;
  if (switches.every_clip) return true;
  if (switches.interval &&
      clips.Text(row, clip::kClipName).find('=') != std::string_view::npos) {
    return true;
  }
  const std::string_view cls = clips.Text(row, clip::kClass);
  if (switches.unclassified && (cls.empty() || cls.rfind("__", 0) == 0)) return true;
  if (switches.eclass && !cls.empty() && cls[0] == '_') {
    const Table& eclasses = Tables().eclass;
    for (int e = 0; e < eclasses.count(); ++e) {
      if (eclasses.Exists(e) && eclasses.Uint(e, eclass::kTarget) != 0 &&
          eclasses.Text(e, eclass::kEcls) == cls) {
        return true;
      }
    }
  }
  return false;
}

DispatchCount CountDispatchTargets(const std::vector<int>& rows,
                                   const DispatchSwitches& switches,
                                   const DispatchCountShown& shown) {
  Ui& ui = CurrentUi();
  ui.SetWaitCursor(true);
  const Table& clips = Tables().clip;
  DispatchCount count;
  for (int row : rows) {
    if (!IsDispatchTarget(row, switches)) continue;
    ui.Status(clips.Text(row, clip::kClipName));
    ++count.clips;
    count.megabytes += clips.Float(row, clip::kMB);
    if (shown) {
      shown(count);
      continue;
    }
    char text[64];
    std::snprintf(text, sizeof text, " %d clips  %.1f MB", count.clips, count.megabytes);
    ui.Status(text);
  }
  ui.Status("");
  ui.SetWaitCursor(false);
  return count;
}

bool DispatchMoveClips(const std::vector<int>& rows, const DispatchSwitches& switches,
                       const fs::path& destination, bool copy, FileOpRun& run,
                       const DispatchCountShown& shown, DispatchSummary* summary) {
  DispatchSummary local;
  DispatchSummary& done_clips = summary ? *summary : local;
  done_clips = DispatchSummary{};
  done_clips.copy = copy;
  CloseReplayGraph();
  std::error_code ec;
  if (!fs::is_directory(destination, ec)) {
    ShowError("destination directiry does not exist\n%s", destination.c_str());
    return false;
  }
  Ui& ui = CurrentUi();
  CountDispatchTargets(rows, switches, shown);
  ui.SetWaitCursor(true);
  run.overwrite_all = false;
  const Table& clips = Tables().clip;
  int done = 0;
  double megabytes = 0.0;
  bool stopped = false;
  for (int row : rows) {
    if (!IsDispatchTarget(row, switches)) continue;
    const std::string name(clips.Text(row, clip::kClipName));
    if (stopped) {
      done_clips.skipped.push_back(name);
      continue;
    }
    char line[kMessageMaxChars + 1];
    std::snprintf(line, sizeof line, "%d %.1fMB done\n%s* --  clip  %s", done, megabytes,
                  name.c_str(), copy ? "Copying" : "Moving");
    ui.Status(line);
    const int failures = run.failures, skipped = run.skipped, files = run.files;
    const std::uint64_t bytes = run.bytes;
    if (MoveOrCopyClip(row, destination, copy, run) == 0) {
      // The overwrite was declined before any file of the clip went.
      done_clips.declined = name;
      done_clips.skipped.push_back(name);
      stopped = true;
      continue;
    }
    if (run.failures > failures) {
      done_clips.failed.push_back(name);
    } else if (run.files == files && run.skipped > skipped) {
      done_clips.skipped.push_back(name);
    } else {
      done_clips.moved.push_back(name);
    }
    done_clips.files += run.files - files;
    done_clips.bytes += run.bytes - bytes;
    ++done;
    megabytes += clips.Float(row, clip::kMB);
  }
  ui.Status("");
  ReadClipDirectories();
  ui.SetWaitCursor(false);
  return true;
}

namespace {

void AppendNames(std::string& text, const std::vector<std::string>& names) {
  const std::size_t shown = std::min(names.size(), static_cast<std::size_t>(kSummaryNamesShown));
  for (std::size_t i = 0; i < shown; ++i) text += "\n  " + names[i];
  if (names.size() > shown) {
    text += "\n  ... and " + std::to_string(names.size() - shown) + " more";
  }
}

std::string ClipCount(std::size_t n) { return std::to_string(n) + (n == 1 ? " clip" : " clips"); }

}  // namespace

std::string DispatchSummaryText(const DispatchSummary& s) {
  char line[128];
  std::snprintf(line, sizeof line, "%s %s (%d %s, %.1f MB)", s.copy ? "Copied" : "Moved",
                ClipCount(s.moved.size()).c_str(), s.files, s.files == 1 ? "file" : "files",
                s.bytes / (1024.0 * 1024.0));
  std::string text = line;
  AppendNames(text, s.moved);
  if (!s.failed.empty()) {
    text += "\nFailed: " + ClipCount(s.failed.size()) + " (a file of each stayed where it was)";
    AppendNames(text, s.failed);
  }
  if (!s.skipped.empty()) {
    text += "\nNot " + std::string(s.copy ? "copied: " : "moved: ") + ClipCount(s.skipped.size());
    if (!s.declined.empty()) {
      text += " (the overwrite of " + s.declined + " was declined: the run stopped there)";
    }
    AppendNames(text, s.skipped);
  }
  return text;
}

bool DispatchDeleteClips(const std::vector<int>& rows, const DispatchSwitches& switches,
                         FileOpRun& run) {
  CloseReplayGraph();
  Ui& ui = CurrentUi();
  if (!ui.AskOkCancel(kMessageCaption, "Delete files from listed clips ok?")) return false;
  ui.SetWaitCursor(true);
  const Table& clips = Tables().clip;
  for (int row : rows) {
    if (!clips.Exists(row)) continue;
    const std::string name(clips.Text(row, clip::kClipName));
    ui.Status(name);
    if (IsDispatchTarget(row, switches)) {
      ui.Status(Format("%s* --  clip  deleting", name.c_str()));
      TrashClipFiles(row, run);
      continue;
    }
    const int mt = clips.Int(row, clip::kMT);
    if (switches.thumbnails && (mt & KindBit(kKindThumbnail))) {
      const fs::path file = ClipFilePath(row, kKindThumbnail);
      if (!file.empty()) {
        ui.Status(Format("%sT.jpg deleting", name.c_str()));
        RemoveByTrashRules(file, run);
      }
    }
    if (switches.results && (mt & KindBit(kKindResult))) {
      const fs::path file = ClipFilePath(row, kKindResult);
      if (!file.empty()) {
        ui.Status(Format("%sA.XML deleting", name.c_str()));
        RemoveByTrashRules(file, run);
      }
    }
  }
  ui.Status("");
  ReadClipDirectories();
  ui.SetWaitCursor(false);
  return true;
}

bool DeleteCheckedClips(FileOpRun& run) {
  const Table& clips = Tables().clip;
  int count = 0;
  for (int r = 0; r < clips.count(); ++r) count += Checked(r) ? 1 : 0;
  if (count == 0) return false;
  char question[64];
  std::snprintf(question, sizeof question, "DELETE CHECKED %d clips ok?", count);
  Ui& ui = CurrentUi();
  if (!ui.AskOkCancel(kMessageCaption, question)) return false;
  ui.SetWaitCursor(true);
  if (CurrentClip().row >= 0) MakeClipCurrent(-1);
  for (int r = clips.count() - 1; r >= 0; --r) {
    // The scan below rebuilds the rows: a clip whose files stayed keeps
    // its row.
    if (Checked(r)) TrashClipFiles(r, run);
  }
  ReadClipDirectories();
  ui.SetWaitCursor(false);
  return true;
}

bool DeleteClip(int row, int next_current, FileOpRun& run) {
  if (!TrashClipFiles(row, run)) return false;
  if (CurrentClip().row == row) MakeClipCurrent(-1);
  DeleteClipObjects(row);
  Tables().clip.DeleteRow(row);
  ClipLibrary& library = Clips();
  if (static_cast<std::size_t>(row) < library.file_names.size()) {
    library.file_names[static_cast<std::size_t>(row)] = {};
  }
  MakeClipCurrent(next_current);
  return true;
}

bool DeleteClipResult(int row, FileOpRun& run) {
  const Table& clips = Tables().clip;
  if (!clips.Exists(row) || !(clips.Int(row, clip::kMT) & KindBit(kKindResult))) {
    return false;
  }
  CloseReplayGraph();
  const fs::path file = ClipFilePath(row, kKindResult);
  const bool ok = !file.empty() && RemoveByTrashRules(file, run);
  ReadClipDirectories();
  return ok;
}

bool DeleteListedResults(const std::vector<int>& rows, FileOpRun& run) {
  CloseReplayGraph();
  Ui& ui = CurrentUi();
  if (!ui.AskOkCancel(kMessageCaption,
                      "Delete All *A.XML file (Analisys result) from listed clips ok?")) {
    return false;
  }
  ui.SetWaitCursor(true);
  const Table& clips = Tables().clip;
  for (int row : rows) {
    if (!clips.Exists(row) || !(clips.Int(row, clip::kMT) & KindBit(kKindResult))) continue;
    const fs::path file = ClipFilePath(row, kKindResult);
    if (!file.empty()) RemoveByTrashRules(file, run);
  }
  ReadClipDirectories();
  ui.SetWaitCursor(false);
  return true;
}

CleaningResult CleanDirectory(const fs::path& directory) {
  CleaningResult result;
  CleanLevel(directory, true, true, result);
  return result;
}

CleaningResult CleanClipDirectories() {
  CleaningResult total;
  const Table& dirs = Tables().dir;
  for (int r = 0; r < dirs.count(); ++r) {
    if (!dirs.Exists(r) || dirs.Uint(r, dir::kUse) == 0) continue;
    const fs::path directory(dirs.Text(r, dir::kDir));
    if (directory.empty()) continue;
    const CleaningResult one = CleanDirectory(directory);
    total.directories += one.directories;
    total.files += one.files;
    // A move into the save directory that was killed left its temporaries
    // there; its dated folders are the filed clips' and stay.
    const fs::path save(dirs.Text(r, dir::kSaveDir));
    std::error_code ec;
    if (!save.empty() && fs::is_directory(save, ec)) {
      CleaningResult saved;
      CleanLevel(save, true, false, saved);
      total.files += saved.files;
    }
  }
  char text[96];
  std::snprintf(text, sizeof text, "deleted %d directories , %d files", total.directories,
                total.files);
  CurrentUi().Status(text);
  return total;
}

}  // namespace mr4
