#include "extract_members.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "ahead_of_order.h"
#include "member_output.h"
#include "member_path.h"
#include "platform.h"
#include "shown_name.h"
#include "standard_output.h"
#include "worker_pool.h"

namespace quiver {
namespace {

// Members worked on ahead of the one put in place, for each thread: each
// holds an open unnamed file until its turn. Enough that a long member
// being written does not hold up the short ones behind it.
constexpr std::size_t kAheadPerThread = 64;
// Files a run holds open besides directories and waiting members.
constexpr int kOtherOpenFiles = 16;
// Directories kept open that the table of open files has room for at the
// start; a tree with more grows it while the run goes on.
constexpr int kReservedDirectories = 4096;

struct Run {
  const Archive& archive;
  const ExtractSettings& settings;
  MemberDirectory directory;
};

// A line about work done, which -q leaves out.
void Progress(const Run& run, const char* format, const char* text) {
  if (!run.settings.quiet) Print(format, text);
}

// A failed member's output goes; a temporary name that stays is named.
bool DropOutput(PendingFile& output, const std::string& directory) {
  if (!output.Discard())
    Print("Unable to delete temporary file %s\n", ShownName(directory + output.temp()).c_str());
  return false;
}

// Writes the member into `file`, its percentage shown while it takes long.
Status WriteShown(const Archive& archive, std::size_t index, FileHandle file) {
  const MemberInfo info = archive.member(index);
  const LongWork shown(info.name, info.original_length, file, 0);
  return archive.WriteTo(index, file);
}

// The member's bytes, written on a pool thread into an unnamed file in the
// top directory; kNoFile where that fails, and then the member is written
// when its turn comes, as one thread writes it.
FileHandle Prepare(const Archive& archive, FileHandle top, std::size_t index) {
  bool unsupported = false;
  const FileHandle file = CreateUnnamedFileIn(top, unsupported);
  if (file == kNoFile) return kNoFile;
  if (!WriteShown(archive, index, file)) {
    CloseFile(file);
    return kNoFile;
  }
  return file;
}

// Writes the member into `output`, made in its directory; false after
// printing why not.
bool WriteMember(const Run& run, std::size_t index, const char* name, PendingFile& output,
                 const std::string& place) {
  const Status status = WriteShown(run.archive, index, output.file());
  if (status.code() == Status::Code::kWriteFailed) {
    Print("Unable to extract %s - write error.\n", name);
    return DropOutput(output, place);
  }
  if (!status) {
    if (run.archive.member(index).compressed)
      Print("Decompression error for %s\n", name);
    else
      Print("Unable to extract %s - read error in quiver.\n", name);
    return DropOutput(output, place);
  }
  return true;
}

// Puts one member at its stored name, from `ready` (its bytes, prepared
// ahead) or written now; false after printing why not. `drop_ahead` lets go
// of what was prepared ahead before a member is written in turn, so that it
// meets the conditions (free space, open files) of a run on one thread.
bool ExtractMember(Run& run, std::size_t index, FileHandle ready,
                   const std::function<void()>& drop_ahead) {
  const MemberInfo info = run.archive.member(index);
  const std::string shown = ShownName(info.name);
  const char* name = shown.c_str();
  PendingFile output;
  if (const char* reason = UnsafeNameReason(info.name)) {
    if (ready != kNoFile) CloseFile(ready);
    Print("Unable to extract %s - unsafe name (%s).\n", name, reason);
    return false;
  }
  const std::string path = MapMemberPath(info.name);
  const std::size_t slash = path.rfind('/');
  const std::string base = path.substr(slash + 1);
  const std::string place = path.substr(0, slash + 1);
  bool through_link = false;
  const FileHandle directory =
      run.directory.Open(slash == std::string::npos ? "" : path.substr(0, slash), through_link);
  if (ready != kNoFile) output.Adopt(ready, directory, base);
  if (through_link) {
    Print("Unable to extract %s - a directory on its path is a symbolic link.\n", name);
    return false;
  }
  FileStatus existing;
  if (run.settings.no_overwrite && directory != kNoFile &&
      StatusIn(directory, base.c_str(), existing)) {
    Progress(run, "%s exists - skipped.\n", name);
    return true;
  }
  const bool prepared = ready != kNoFile;
  if (!prepared) {
    drop_ahead();
    if (directory == kNoFile || !output.Create(directory, base)) {
      Print("Unable to extract %s - error in file creation.\n", name);
      return false;
    }
    if (!WriteMember(run, index, name, output, place)) return false;
  }
  switch (output.Commit(!run.settings.no_overwrite)) {
    case PendingFile::Committed::kYes:
      break;
    case PendingFile::Committed::kNameTaken:
      // Made by someone else since it was looked for: still theirs.
      if (!output.Discard()) return DropOutput(output, place);
      Progress(run, "%s exists - skipped.\n", name);
      return true;
    case PendingFile::Committed::kFailed:
      // Prepared on another file system than its directory's: written in turn.
      if (prepared && output.Discard()) return ExtractMember(run, index, kNoFile, drop_ahead);
      Print("Unable to extract %s - error in file creation.\n", name);
      return DropOutput(output, place);
  }
  Progress(run, info.compressed ? "%s decompressed and extracted.\n" : "%s extracted.\n", name);
  return true;
}

// Whether members can be prepared side by side: the top directory offers
// unnamed files.
bool UnnamedFilesIn(FileHandle top) {
  bool unsupported = false;
  const FileHandle probe = CreateUnnamedFileIn(top, unsupported);
  if (probe == kNoFile) return false;
  CloseFile(probe);
  return true;
}

}  // namespace

bool ExtractMembers(const Archive& archive, const std::vector<ExtractStep>& steps,
                    const ExtractSettings& settings) {
  // Each directory is opened once. Of the files the process may open, a few
  // stay free for the archive, the standard streams and the member written
  // in turn; half the rest hold directories, a quarter members waiting their
  // turn, so that a low limit slows a run but never fails it.
  const int open_files = RaiseOpenFileLimit();
  const int spare = std::max(0, open_files - kOtherOpenFiles);
  const int kept_directories = std::max(2, spare / 2);
  Run run{archive, settings, MemberDirectory(kept_directories)};
  const auto first_failure = std::find_if(steps.begin(), steps.end(),
                                          [](const ExtractStep& s) { return !s.failure.empty(); });
  const auto members = static_cast<std::size_t>(first_failure - steps.begin());
  // The pool's threads make the unnamed files here, in a handle of their own.
  bool through_link = false;
  const FileHandle top = OpenDirectoryNoFollow("", through_link);
  std::optional<WorkerPool> pool;
  std::optional<AheadOfOrder<FileHandle>> ahead;
  if (settings.threads > 1 && members > 1 && top != kNoFile && UnnamedFilesIn(top)) {
    const std::size_t window =
        std::min(kAheadPerThread * static_cast<std::size_t>(settings.threads),
                 static_cast<std::size_t>(std::max(1, spare / 4)));
    // Room for the waiting members and the directories of most trees.
    ReserveOpenFiles(std::min(open_files, std::min(kept_directories, kReservedDirectories) +
                                              static_cast<int>(window) + 64));
    pool.emplace(settings.threads);
    ahead.emplace(
        *pool, members, window,
        [&archive, &steps, top](std::size_t item) {
          return Prepare(archive, top, steps[item].index);
        },
        [](FileHandle& file) {
          if (file != kNoFile) CloseFile(file);
        });
  }
  const std::function<void()> drop_ahead = [&ahead] {
    if (ahead) ahead->DropAhead();
  };
  bool ok = true;
  for (std::size_t i = 0; ok && i < members; ++i) {
    const FileHandle ready = ahead ? ahead->Take() : kNoFile;
    ok = ExtractMember(run, steps[i].index, ready, drop_ahead);
  }
  ahead.reset();
  if (top != kNoFile) CloseFile(top);
  if (ok && members < steps.size()) {
    Print("%s", steps[members].failure.c_str());
    ok = false;
  }
  return ok;
}

}  // namespace quiver
