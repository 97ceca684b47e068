// The compressed build's last stage: every member's stored bytes, from the
// member itself or from its temporary file, appended in response-file order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "build_run.h"

namespace quiver {

// The file holding a member's stored bytes and their number.
struct CopySource {
  std::string path;
  const char* shown;  // in messages: the member's name as written, or the temporary path
  std::int64_t expected;
};
CopySource ChooseCopySource(const StageEntry& stage);

void CopyMembers(std::vector<std::uint8_t>& copy_buffer);

// The progress line for one member, in both kinds of build.
void ReportCopy(const char* source_path, std::int64_t size, std::int32_t to_go);

// Reports a member file that could not be read in full and ends the run.
[[noreturn]] void CopyReadError(const char* shown);
// Reports a member file that changed while its bytes were read and ends the run.
[[noreturn]] void ChangedWhileCopied(const char* shown);

}  // namespace quiver
