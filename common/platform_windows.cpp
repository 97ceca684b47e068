// The platform layer on the Win32 API. Paths arrive as UTF-8 and go to the
// wide-character calls; a path that is not UTF-8 names no file. A
// directory opened by OpenDirectoryNoFollow is held without delete sharing,
// so it can be neither renamed nor removed while open, and the names in it
// are reached through its own final path.
#include <windows.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <string_view>
#include <thread>

#include "platform.h"
#include "platform_windows_text.h"

namespace quiver {

std::wstring Wide(const char* text, std::size_t size) {
  if (size == 0) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(size), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(size), wide.data(),
                      length);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                      nullptr, nullptr);
  return text;
}

namespace {

HANDLE Handle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle File(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

// Forward slashes, as member paths have them, are separators to Win32 too.
std::wstring WidePath(const char* path) {
  return Wide(path, std::strlen(path));
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A virus scanner or an indexer may hold a fresh file open for a moment, and
// a file open without delete sharing cannot be removed.
constexpr int kRemoveAttempts = 10;
constexpr DWORD kRemoveRetryMilliseconds = 100;

bool Remove(const std::wstring& path) {
  if (path.empty()) return false;
  for (int attempt = 1;; ++attempt) {
    if (DeleteFileW(path.c_str())) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return true;
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    if (!held || attempt == kRemoveAttempts) return false;
    Sleep(kRemoveRetryMilliseconds);
  }
}

HANDLE OpenPath(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                DWORD flags) {
  if (path.empty()) return INVALID_HANDLE_VALUE;
  return CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

std::int64_t Nanoseconds(std::int64_t hundreds) {
  return hundreds * 100;
}

bool StatusOfHandle(HANDLE handle, FileStatus& status) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandle(handle, &info) ||
      !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
    return false;
  const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  status.size = static_cast<std::int64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  status.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.regular = !status.directory && !link && GetFileType(handle) == FILE_TYPE_DISK;
  status.permissions = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  status.device = info.dwVolumeSerialNumber;
  status.inode = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  status.modified_ns = Nanoseconds(basic.LastWriteTime.QuadPart);
  status.changed_ns = Nanoseconds(basic.ChangeTime.QuadPart);
  return true;
}

CreateResult CreateFailure() {
  switch (GetLastError()) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return CreateResult::kNameTaken;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return CreateResult::kDenied;
    default:
      return CreateResult::kFailed;
  }
}

// A new file for writing that may be removed, by the clean-up handler on
// its own thread, while it is still open.
CreateResult CreateNew(const std::wstring& path, FileHandle& file) {
  HANDLE handle = OpenPath(path, GENERIC_WRITE | GENERIC_READ | DELETE, kShareAll, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL);
  file = File(handle);
  return handle != INVALID_HANDLE_VALUE ? CreateResult::kCreated : CreateFailure();
}

// A directory's own path, "\\?\" form, from its handle.
std::wstring DirectoryPath(FileHandle directory) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(Handle(directory), path.data(),
                                                   static_cast<DWORD>(path.size()), 0);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length + 1);
  }
}

std::wstring PathIn(FileHandle directory, const char* name) {
  const std::wstring base = DirectoryPath(directory);
  const std::wstring wide = WidePath(name);
  if (base.empty() || wide.empty()) return {};
  return base + L"\\" + wide;
}

// `target` replaced by `source` in one step, and on the disk before it returns.
bool Replace(const std::wstring& source, const std::wstring& target) {
  return !source.empty() && !target.empty() &&
         MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

constexpr DWORD kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr DWORD kDirectoryFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// The status of what `path` names, opened with `flags`.
bool StatusAt(const std::wstring& path, DWORD flags, FileStatus& status) {
  HANDLE handle = OpenPath(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, flags);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = StatusOfHandle(handle, status);
  CloseHandle(handle);
  return ok;
}

// Held without delete sharing: it stays where it is while open.
HANDLE OpenDirectoryAt(const std::wstring& path) {
  return OpenPath(path, kDirectoryAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                  kDirectoryFlags);
}

}  // namespace

FileHandle OpenForReading(const char* path, FileStatus& status) {
  HANDLE handle = OpenPath(WidePath(path), GENERIC_READ, kShareAll, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
  if (handle == INVALID_HANDLE_VALUE) return kNoFile;
  if (!StatusOfHandle(handle, status) || !status.regular) {
    CloseHandle(handle);
    return kNoFile;
  }
  return File(handle);
}

void* AllocateLarge(std::size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeLarge(void* memory, std::size_t) {
  VirtualFree(memory, 0, MEM_RELEASE);
}

namespace {

// The directory `root`, then each level of `levels` ("/" between them)
// below it; a junction or a symbolic link is opened as itself, and refused.
HANDLE OpenLevelsBelow(const std::string& root, std::string_view levels) {
  HANDLE directory = OpenDirectoryAt(WidePath(root.c_str()));
  std::size_t start = 0;
  while (directory != INVALID_HANDLE_VALUE && start < levels.size()) {
    const std::size_t slash = std::min(levels.find('/', start), levels.size());
    const std::string level(levels.substr(start, slash - start));
    start = slash + 1;
    HANDLE next = OpenDirectoryAt(PathIn(File(directory), level.c_str()));
    BY_HANDLE_FILE_INFORMATION info;
    if (next != INVALID_HANDLE_VALUE &&
        (!GetFileInformationByHandle(next, &info) ||
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)) {
      CloseHandle(next);
      next = INVALID_HANDLE_VALUE;
    }
    CloseHandle(directory);
    directory = next;
  }
  return directory;
}

}  // namespace

FileHandle OpenBelow(const std::string& root, const std::string& relative, FileStatus& status) {
  const std::size_t slash = relative.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  HANDLE directory = OpenLevelsBelow(root, std::string_view(relative).substr(0, start));
  if (directory == INVALID_HANDLE_VALUE) return kNoFile;
  const std::wstring path = PathIn(File(directory), relative.c_str() + start);
  CloseHandle(directory);
  HANDLE handle = OpenPath(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN);
  if (handle == INVALID_HANDLE_VALUE) return kNoFile;
  if (!StatusOfHandle(handle, status) || !status.regular) {
    CloseHandle(handle);
    return kNoFile;
  }
  return File(handle);
}

bool IsDirectoryBelow(const std::string& root, const std::string& relative) {
  HANDLE directory = OpenLevelsBelow(root, relative);
  if (directory == INVALID_HANDLE_VALUE) return false;
  CloseHandle(directory);
  return true;
}

bool ListBelow(const std::string& root, const std::string& relative,
               std::vector<DirectoryItem>& items) {
  items.clear();
  HANDLE directory = OpenLevelsBelow(root, relative);
  if (directory == INVALID_HANDLE_VALUE) return false;
  const std::wstring pattern = DirectoryPath(File(directory)) + L"\\*";
  WIN32_FIND_DATAW found;
  HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  CloseHandle(directory);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    DirectoryItem item;
    item.name = Narrow(name);
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    item.status.directory = !link && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    item.status.regular = !link && !item.status.directory;
    item.status.size = static_cast<std::int64_t>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
    items.push_back(std::move(item));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

bool StatusOf(FileHandle file, FileStatus& status) {
  return StatusOfHandle(Handle(file), status);
}

bool StatusOfPath(const char* path, FileStatus& status) {
  return StatusAt(WidePath(path), FILE_FLAG_BACKUP_SEMANTICS, status);
}

// Opening it refuses a directory, a device and a file it may not read.
bool IsReadableRegularFile(const char* path, FileStatus& status) {
  FileHandle file = OpenForReading(path, status);
  if (file == kNoFile) return false;
  CloseFile(file);
  return true;
}

bool CloseFile(FileHandle file) {
  return CloseHandle(Handle(file)) != 0;
}

std::size_t WritePrefix(FileHandle file, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(Handle(file), bytes + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
  return done;
}

bool WriteAll(FileHandle file, const void* data, std::size_t size) {
  return WritePrefix(file, data, size) == size;
}

std::int64_t ReadFull(FileHandle file, void* data, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::size_t total = 0;
  while (total < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - total, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(Handle(file), bytes + total, chunk, &got, nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    total += got;
  }
  return static_cast<std::int64_t>(total);
}

// A read at an offset moves a file's position on Windows; as with pread,
// the position is left where it was.
std::int64_t ReadFullAt(FileHandle file, void* data, std::size_t size, std::int64_t offset) {
  if (offset < 0) return ReadFull(file, data, size);
  LARGE_INTEGER here = {};
  const LARGE_INTEGER none = {};
  const bool kept = SetFilePointerEx(Handle(file), none, &here, FILE_CURRENT) != 0;
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::size_t total = 0;
  bool failed = false;
  while (total < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - total, 1u << 30));
    const auto at = static_cast<std::uint64_t>(offset) + total;
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!ReadFile(Handle(file), bytes + total, chunk, &got, &where)) {
      failed = GetLastError() != ERROR_HANDLE_EOF;
      break;
    }
    if (got == 0) break;
    total += got;
  }
  if (kept) SetFilePointerEx(Handle(file), here, nullptr, FILE_BEGIN);
  return failed ? -1 : static_cast<std::int64_t>(total);
}

bool SeekTo(FileHandle file, std::int64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(Handle(file), to, nullptr, FILE_BEGIN) != 0;
}

bool TruncateFile(FileHandle file, std::int64_t size) {
  return SeekTo(file, size) && SetEndOfFile(Handle(file)) != 0;
}

// Windows keeps one permission of a file: whether it may be written.
void SetPermissions(FileHandle file, std::uint32_t permissions) {
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(Handle(file), FileBasicInfo, &basic, sizeof basic)) return;
  if ((permissions & 0200) != 0)
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  else
    basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(Handle(file), FileBasicInfo, &basic, sizeof basic);
}

std::uint32_t NewFilePermissions() {
  return 0666;
}

const std::uint8_t* MapFile(FileHandle file, std::int64_t size) {
  HANDLE mapping = CreateFileMappingW(Handle(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
  CloseHandle(mapping);
  return static_cast<const std::uint8_t*>(view);
}

void UnmapFile(const std::uint8_t* data, std::int64_t) {
  UnmapViewOfFile(data);
}

CopyResult CopyRange(FileHandle in, std::int64_t in_offset, FileHandle out, std::int64_t size,
                     std::vector<std::uint8_t>& buffer, std::size_t buffer_size, std::int64_t) {
  const auto buffer_needed =
      static_cast<std::size_t>(std::min(size, static_cast<std::int64_t>(buffer_size)));
  if (buffer.size() < buffer_needed) buffer.resize(buffer_needed);
  std::int64_t position = in_offset;
  while (size > 0) {
    const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(size, buffer_needed));
    const std::int64_t got = ReadFullAt(in, buffer.data(), chunk, position);
    if (got < 0) return CopyResult::kReadError;
    if (static_cast<std::size_t>(got) != chunk) return CopyResult::kShortSource;
    if (!WriteAll(out, buffer.data(), chunk)) return CopyResult::kWriteError;
    if (position >= 0) position += got;
    size -= got;
  }
  return CopyResult::kOk;
}

FileHandle CreateOrTruncate(const char* path) {
  return File(OpenPath(WidePath(path), GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL));
}

CreateResult CreateNewFile(const char* path, FileHandle& file) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return CreateResult::kFailed;
  return CreateNew(wide, file);
}

FileHandle CreateUniqueFile(std::string& path, const std::string& prefix) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::minstd_rand next(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) name += kLetters[next() % (sizeof kLetters - 1)];
    FileHandle file;
    const CreateResult made = CreateNewFile(name.c_str(), file);
    if (made == CreateResult::kCreated) {
      path = name;
      return file;
    }
    if (made != CreateResult::kNameTaken) return kNoFile;
  }
  return kNoFile;
}

FileHandle OpenDirectoryNoFollow(const std::string& path, bool& through_link, FileHandle from) {
  through_link = false;
  HANDLE directory = OpenDirectoryAt(from == kNoFile ? L"." : DirectoryPath(from));
  std::size_t start = 0;
  while (directory != INVALID_HANDLE_VALUE && start < path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    const std::string level = path.substr(start, slash - start);
    start = slash + 1;
    if (level.empty()) continue;
    const std::wstring next_path = PathIn(File(directory), level.c_str());
    HANDLE next = OpenDirectoryAt(next_path);
    if (next == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND &&
        !next_path.empty() &&
        (CreateDirectoryW(next_path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS))
      next = OpenDirectoryAt(next_path);
    if (next != INVALID_HANDLE_VALUE) {
      // A junction or a symbolic link is opened as itself, and refused.
      BY_HANDLE_FILE_INFORMATION info;
      const bool plain = GetFileInformationByHandle(next, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
      if (!plain) {
        through_link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        CloseHandle(next);
        next = INVALID_HANDLE_VALUE;
      }
    }
    CloseHandle(directory);
    directory = next;
  }
  return File(directory);
}

FileHandle CreateUnnamedFileIn(FileHandle, bool& unsupported) {
  unsupported = true;
  return kNoFile;
}

CreateResult LinkUnnamedFileIn(FileHandle, FileHandle, const char*) {
  return CreateResult::kFailed;
}

CreateResult CreateNewFileIn(FileHandle directory, const char* name, FileHandle& file) {
  const std::wstring path = PathIn(directory, name);
  if (path.empty()) return CreateResult::kFailed;
  return CreateNew(path, file);
}

bool RenameIn(FileHandle directory, const char* from, const char* to) {
  return Replace(PathIn(directory, from), PathIn(directory, to));
}

CreateResult RenameNoReplaceIn(FileHandle directory, const char* from, const char* to) {
  const std::wstring source = PathIn(directory, from);
  const std::wstring target = PathIn(directory, to);
  if (source.empty() || target.empty()) return CreateResult::kFailed;
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
    return CreateResult::kCreated;
  return CreateFailure() == CreateResult::kNameTaken ? CreateResult::kNameTaken
                                                     : CreateResult::kFailed;
}

bool RemoveIn(FileHandle directory, const char* name) {
  return Remove(PathIn(directory, name));
}

bool StatusIn(FileHandle directory, const char* name, FileStatus& status) {
  return StatusAt(PathIn(directory, name), kDirectoryFlags, status);
}

bool RenameFile(const char* from, const char* to) {
  return Replace(WidePath(from), WidePath(to));
}

CreateResult RenameNoReplaceAndEmpty(FileHandle file, const char* from, const char* to) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (!SetFilePointerEx(Handle(file), start, nullptr, FILE_BEGIN) || !SetEndOfFile(Handle(file)))
    return CreateResult::kFailed;
  const std::wstring source = WidePath(from);
  const std::wstring target = WidePath(to);
  if (source.empty() || target.empty()) return CreateResult::kFailed;
  // Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced.
  return MoveFileExW(source.c_str(), target.c_str(), 0) ? CreateResult::kCreated : CreateFailure();
}

bool KeepInsteadOf(FileHandle, FileHandle) {
  return false;
}

bool RemoveFile(const char* path) {
  return Remove(WidePath(path));
}

bool ChangeDirectory(const char* path) {
  const std::wstring wide = WidePath(path);
  return !wide.empty() && SetCurrentDirectoryW(wide.c_str()) != 0;
}

std::string FollowLinks(const std::string& path) {
  const std::wstring wide = Wide(path.data(), path.size());
  const DWORD attributes =
      wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return path;
  HANDLE handle =
      OpenPath(wide, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return path;
  const std::wstring final_path = DirectoryPath(File(handle));
  CloseHandle(handle);
  if (final_path.empty()) return path;
  // Without the "\\?\" that marks a path Win32 takes as it is.
  const std::wstring plain =
      final_path.rfind(L"\\\\?\\", 0) == 0 ? final_path.substr(4) : final_path;
  return Narrow(plain);
}

// Handles have no such limit on Windows; what the programs keep open is
// bounded by this all the same.
int RaiseOpenFileLimit() {
  return 1 << 14;
}

// The handle table grows without waiting for other threads.
void ReserveOpenFiles(int) {}

int ProcessId() {
  return static_cast<int>(GetCurrentProcessId());
}

NewThreadSignalMask::NewThreadSignalMask() = default;
NewThreadSignalMask::~NewThreadSignalMask() = default;

int AvailableProcessors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
    return std::popcount(static_cast<std::uint64_t>(process));
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace quiver
