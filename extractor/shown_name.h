// Member names as the console shows them. A name comes from an archive
// that anyone may have made, so its control characters could move the
// cursor, retitle the terminal or forge whole lines of the report.
#pragma once

#include <string>

namespace quiver {

// The name with every control character (below 0x20, and 0x7F) shown as
// "?"; every other byte as it is.
std::string ShownName(const char* name);

}  // namespace quiver
