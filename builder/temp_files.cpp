#include "temp_files.h"

#include <cstring>
#include <string>
#include <vector>

#include "member_path.h"
#include "temp_path.h"

namespace quiver {
namespace {

struct SpentTemp {
  std::int32_t member;
  FileHandle file;
};
std::vector<SpentTemp> spent_temps;

// The temporary name in the archive's directory, for a member whose own
// directory may not be written.
std::string BesideTheArchive(const std::string& temp) {
  const std::string target = build_run.archive_target;
  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  return directory + temp.substr(temp.rfind('/') + 1);
}

// Gives the last spent file the name `temp`, if free, and records it as
// `stage`'s. One that cannot take it is closed and left to the deletion at
// the end, so that few files stay open.
FileHandle TakeSpentTemp(const std::string& temp, StageEntry& stage) {
  if (spent_temps.empty()) return kNoFile;
  const SpentTemp spent = spent_temps.back();
  spent_temps.pop_back();
  StageEntry& owner = build_run.stage[spent.member];
  CleanupSignalBlock block;
  if (temp.size() >= sizeof stage.temp_path ||
      RenameNoReplaceAndEmpty(spent.file, owner.temp_path, temp.c_str()) !=
          CreateResult::kCreated) {
    CloseFile(spent.file);
    return kNoFile;
  }
  std::memcpy(stage.temp_path, temp.c_str(), temp.size() + 1);
  stage.temp_created = 1;
  owner.temp_created = 0;
  return spent.file;
}

}  // namespace

FileHandle TakeTempFile(StageEntry& stage) {
  std::string temp = MapMemberPath(MakeTempPath(stage.source_path).c_str());
  FileHandle file = TakeSpentTemp(temp, stage);
  if (file != kNoFile) return file;
  CleanupSignalBlock block;
  bool denied = false;
  file = CreateExclusiveFile(temp, stage.temp_path, sizeof stage.temp_path, denied);
  if (file == kNoFile && denied)
    file = CreateExclusiveFile(BesideTheArchive(temp), stage.temp_path, sizeof stage.temp_path,
                               denied);
  if (file != kNoFile) stage.temp_created = 1;
  return file;
}

void SpendTempFile(std::int32_t member, FileHandle file) {
  spent_temps.push_back({member, file});
}

void CloseSpentTempFiles() {
  for (const SpentTemp& spent : spent_temps) CloseFile(spent.file);
  spent_temps.clear();
}

}  // namespace quiver
