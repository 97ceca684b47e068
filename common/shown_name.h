// Member names as a console shows them, in the programs' lines and in the
// library's messages, which programs print. A name comes from an archive
// that anyone may have made, so its control characters could move the
// cursor, retitle the terminal or forge whole lines of a report.
#pragma once

#include <string>
#include <string_view>

namespace quiver {

// The name with every control character shown as "?": the C0 controls
// (below 0x20) and 0x7F, the C1 controls as raw bytes (0x80 to 0x9F) and as
// UTF-8 (C2 80 to C2 9F, one "?" for the pair); every other byte as it is.
std::string ShownName(std::string_view name);

}  // namespace quiver
