// What the programs need of the operating system, and nothing else: every
// call into it goes through here. Paths are bytes as the file system takes
// them. Functions that say so are safe in a signal handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quiver {

// Whether file names follow Windows' rules here.
#ifdef _WIN32
inline constexpr bool kWindowsFileNames = true;
#else
inline constexpr bool kWindowsFileNames = false;
#endif

// An open file; kNoFile for none.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

struct FileStatus {
  std::int64_t size = 0;
  bool regular = false;
  bool directory = false;
  std::uint32_t permissions = 0;  // the mode's low twelve bits
  // Together they tell whether a file is still the one measured.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;
};

// Whether a file is still as it was: the same file, with the same size and
// the same times of modification and change.
inline bool SameFileState(const FileStatus& before, const FileStatus& after) {
  return before.device == after.device && before.inode == after.inode &&
         before.size == after.size && before.modified_ns == after.modified_ns &&
         before.changed_ns == after.changed_ns;
}

// Opens a regular file for reading without blocking on a FIFO; kNoFile for
// anything else, whose status is then in `status` where it could be taken.
FileHandle OpenForReading(const char* path, FileStatus& status);
bool StatusOf(FileHandle file, FileStatus& status);
// The regular file at `relative` ("/" between levels) below the directory
// `root`, opened for reading as OpenForReading does, every level below the
// root opened without following a symbolic link: a link on the way is
// refused, even one that would lead back inside, so nothing leads out of
// the root. kNoFile for anything else.
FileHandle OpenBelow(const std::string& root, const std::string& relative, FileStatus& status);
// One entry of a directory, as the entry itself is: a symbolic link is
// neither regular nor a directory.
struct DirectoryItem {
  std::string name;
  FileStatus status;
};
// Whether `relative` ("" for the root itself) below `root` is a directory,
// each level opened as OpenBelow opens them.
bool IsDirectoryBelow(const std::string& root, const std::string& relative);
// The entries of that directory, "." and ".." left out; false when there
// is no such directory or it cannot be read.
bool ListBelow(const std::string& root, const std::string& relative,
               std::vector<DirectoryItem>& items);
// Status of what the path names, through symbolic links.
bool StatusOfPath(const char* path, FileStatus& status);
// Whether `path` is a regular file this process may read, asked without
// opening it: a device or FIFO is never touched.
bool IsReadableRegularFile(const char* path, FileStatus& status);
// Safe in a signal handler; false when the file could not be closed cleanly.
bool CloseFile(FileHandle file);

// True when all `size` bytes were written.
bool WriteAll(FileHandle file, const void* data, std::size_t size);
// The bytes written, from the first, before a write failed: `size` when
// none did.
std::size_t WritePrefix(FileHandle file, const void* data, std::size_t size);
// Bytes read before the end of the file, or -1 on a read error.
std::int64_t ReadFull(FileHandle file, void* data, std::size_t size);
std::int64_t ReadFullAt(FileHandle file, void* data, std::size_t size, std::int64_t offset);
bool SeekTo(FileHandle file, std::int64_t offset);
// Cuts the file, open for writing, to `size` bytes.
bool TruncateFile(FileHandle file, std::int64_t size);
void SetPermissions(FileHandle file, std::uint32_t permissions);
// The permissions a new file gets: 0666 less the umask.
std::uint32_t NewFilePermissions();

// Memory for a large table, all zero, taken in large pages where the
// system offers them and faulted in at once (fewer, cheaper faults than as
// it is filled); nullptr on failure. Freed by FreeLarge with the same size.
void* AllocateLarge(std::size_t size);
void FreeLarge(void* memory, std::size_t size);

// The file's first `size` bytes mapped read-only (size > 0); nullptr on
// failure.
const std::uint8_t* MapFile(FileHandle file, std::int64_t size);
void UnmapFile(const std::uint8_t* data, std::int64_t size);

enum class CopyResult { kOk, kShortSource, kReadError, kWriteError };

// Copies `size` bytes from `in` (at `in_offset`, or at its file position
// when that is negative) to the file position of `out` (`out_position`
// when the caller knows it, else asked for): inside the kernel where the
// two offsets agree within a page and it can, else through `buffer`, made
// `buffer_size` bytes long (or the copy's size, if less) when first needed.
CopyResult CopyRange(FileHandle in, std::int64_t in_offset, FileHandle out, std::int64_t size,
                     std::vector<std::uint8_t>& buffer, std::size_t buffer_size,
                     std::int64_t out_position = -1);

// kDenied: the directory may not be written, or its file system is read-only.
enum class CreateResult { kCreated, kNameTaken, kDenied, kFailed };

// The file at `path` opened for writing, created or emptied.
FileHandle CreateOrTruncate(const char* path);
// A new, empty file opened for writing, never an existing one.
CreateResult CreateNewFile(const char* path, FileHandle& file);
// A new file named `prefix` followed by six characters that make it unique;
// the name is written back into `path`.
FileHandle CreateUniqueFile(std::string& path, const std::string& prefix);
// The directory at the relative path `path` ("/" between levels, "" for
// the directory itself) below the open directory `from` (kNoFile: the
// current one), each level opened without following a symbolic link and
// made when missing, so that nothing can redirect what is written in it;
// kNoFile on failure, with `through_link` set when a level is a symbolic
// link.
FileHandle OpenDirectoryNoFollow(const std::string& path, bool& through_link,
                                 FileHandle from = kNoFile);
// The number of files this process may hold open, raised first as far as
// the system lets it.
int RaiseOpenFileLimit();
// Makes room in the process's table of open files for `count` at once. The
// table grows by doubling, and while other threads run each growth waits
// for all of them to pass a quiescent point: for a run that opens hundreds
// of files on several threads, that wait cost more than the rest.
void ReserveOpenFiles(int count);
// Operations on names in a directory opened so; none follows a symbolic
// link at `name`.
// A file with no name at all, which nothing can see or leave behind until
// LinkUnnamedFileIn names it; kNoFile where the file system does not offer
// such files (then `unsupported` is set) or on failure.
FileHandle CreateUnnamedFileIn(FileHandle directory, bool& unsupported);
// kNameTaken when `name` exists.
CreateResult LinkUnnamedFileIn(FileHandle file, FileHandle directory, const char* name);
CreateResult CreateNewFileIn(FileHandle directory, const char* name, FileHandle& file);
bool RenameIn(FileHandle directory, const char* from, const char* to);
// The same, but never over an existing `to`: kNameTaken then, and both stay.
CreateResult RenameNoReplaceIn(FileHandle directory, const char* from, const char* to);
// Safe in a signal handler. True once `name` is gone; on Windows a file
// another program holds open is tried again for about a second first.
bool RemoveIn(FileHandle directory, const char* name);
// Status of `name` itself: a symbolic link is not followed.
bool StatusIn(FileHandle directory, const char* name, FileStatus& status);
// Replaces `to` by `from` in one step.
bool RenameFile(const char* from, const char* to);
// Whether the file `kept` can stand for `made`, a file this run created
// beside it with the same bytes: the same owner, group and permissions, and
// no other name that a replacement would part from it. If so, `kept` is
// marked modified now, as a replacement would be. Never on Windows, where
// a file's owners are in its access list.
bool KeepInsteadOf(FileHandle kept, FileHandle made);
// Empties the file at `from`, open for writing as `file`, and renames it
// `to`, never over a file at `to` (kNameTaken), with kFailed where the file
// system cannot promise that. It may be emptied and not renamed.
CreateResult RenameNoReplaceAndEmpty(FileHandle file, const char* from, const char* to);
// Safe in a signal handler; true once `path` is gone, as RemoveIn.
bool RemoveFile(const char* path);
// Makes `path` the current directory.
bool ChangeDirectory(const char* path);
// The path with every symbolic link along its last component followed.
std::string FollowLinks(const std::string& path);

int ProcessId();

// The processors this process may run on: its affinity, less a CPU quota
// where its control group sets one; at least 1.
int AvailableProcessors();

// Holds every asynchronous signal off the calling thread while it lives, so
// that the threads it starts never take one: a signal goes to a thread of
// the program's own. Nothing to hold on Windows, whose console events come
// on a thread of their own.
class NewThreadSignalMask {
 public:
  NewThreadSignalMask();
  ~NewThreadSignalMask();
  NewThreadSignalMask(const NewThreadSignalMask&) = delete;
  NewThreadSignalMask& operator=(const NewThreadSignalMask&) = delete;

 private:
  alignas(8) unsigned char saved_[128];
};

// Runs `run` with the program's arguments in UTF-8: on Windows they come
// from its wide command line, elsewhere they are passed on as they are.
// Console output is then UTF-8 too.
int RunWithUtf8Arguments(int argc, char** argv, int (*run)(int, char**));

// The programs' console, in platform_*_console.cpp.
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;
bool IsTerminal(int stream);
enum class ConsoleWrite { kOk, kBrokenPipe, kFailed };
// All of `data` to standard output or error. Safe in a signal handler.
ConsoleWrite WriteToConsole(int stream, const char* data, std::size_t size);
// The calling thread takes SIGPIPE, as a write to a pipe whose reader has
// gone gives it; nothing where there is no such signal.
void RaiseBrokenPipe();
// From a clean-up handler about to die: a write to a pipe whose reader has
// gone no longer raises SIGPIPE, so only the handler's own signal ends the
// process. Safe in a signal handler.
void HoldBrokenPipe();

// The signals that end a run from outside, after which its unfinished files
// must not stay: interrupt, termination, hang-up, and a broken pipe when
// the reader of standard output has gone. `handler` takes each, except one
// the program was started with ignored (under nohup), which stays ignored.
void InstallCleanupHandler(void (*handler)(int));
// A write past the process's file-size limit then fails, as on a full disk,
// instead of ending the process with nothing cleaned up.
void FailWritesPastTheFileSizeLimit();
// From a clean-up handler, once the files are gone: dies by `signal_number`
// as if no handler had been installed.
[[noreturn]] void DieBySignal(int signal_number);

// Whether a clean-up signal waits, held off by a CleanupSignalBlock.
bool CleanupSignalPending();

// Holds the clean-up signals off while it lives, so that a file is created
// and recorded, or committed and forgotten, in one step as a handler sees
// it. Threads started while one lives never take those signals.
class CleanupSignalBlock {
 public:
  CleanupSignalBlock();
  ~CleanupSignalBlock();
  CleanupSignalBlock(const CleanupSignalBlock&) = delete;
  CleanupSignalBlock& operator=(const CleanupSignalBlock&) = delete;

 private:
  alignas(8) unsigned char saved_[128];
};

}  // namespace quiver
