// Writing members below the current directory, in the order asked for, and
// stopping at the first that fails. With several threads the members'
// bytes are written side by side, each into an unnamed file, and put in
// place and reported in order by the calling thread alone: the transcript,
// the exit status and what is on disk after a failure are those of one
// thread doing every member in turn, and nothing of a member after a failed
// one ever becomes visible.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "quiver/reader.h"

namespace quiver {

struct ExtractSettings {
  bool no_overwrite = false;  // -n
  bool quiet = false;         // -q
  int threads = 1;
};

// A member to extract, or (`failure` not empty) the line that stops the run
// when it comes to it.
struct ExtractStep {
  std::size_t index = 0;
  std::string failure;
};

// False after printing why a member failed, or a step's failure.
bool ExtractMembers(const Archive& archive, const std::vector<ExtractStep>& steps,
                    const ExtractSettings& settings);

}  // namespace quiver
