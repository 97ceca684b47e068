#include "temp_path.h"

#include <cstring>

#include "member_path.h"

namespace quiver {

std::string MakeTempPath(const char* source_path) {
  std::string path = source_path;
  std::size_t drive = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  std::size_t directory_end = drive;
  for (std::size_t i = drive; i < path.size(); ++i)
    if (IsSeparator(path[i])) directory_end = i + 1;
  std::size_t dot = path.rfind('.');
  std::string extension;
  std::string stem = path;
  if (dot != std::string::npos && dot >= directory_end) {
    extension = path.substr(dot);
    stem = path.substr(0, dot);
  }
  if (extension.size() >= 4)
    extension.back() = '$';
  else
    extension += '$';
  // Only a name without an extension lacks the dot.
  return extension[0] == '.' ? stem + extension : stem + "." + extension;
}

FileHandle CreateExclusiveFile(const std::string& path, char* created, std::size_t capacity,
                               bool& denied) {
  denied = false;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name = attempt == 0 ? path : path + "." + std::to_string(attempt);
    if (name.size() >= capacity) return kNoFile;
    FileHandle file;
    const CreateResult result = CreateNewFile(name.c_str(), file);
    if (result == CreateResult::kCreated) {
      std::memcpy(created, name.c_str(), name.size() + 1);
      return file;
    }
    if (result != CreateResult::kNameTaken) {
      denied = result == CreateResult::kDenied;
      return kNoFile;
    }
  }
  return kNoFile;
}

}  // namespace quiver
