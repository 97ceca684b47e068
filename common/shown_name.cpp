#include "shown_name.h"

namespace quiver {

std::string ShownName(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  for (auto p = name.begin(); p != name.end(); ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    const unsigned char next = p + 1 != name.end() ? static_cast<unsigned char>(p[1]) : 0;
    if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      // A C1 control written in UTF-8, as a terminal reads it.
      shown += '?';
      ++p;
    } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F)) {
      shown += '?';
    } else {
      shown += *p;
    }
  }
  return shown;
}

}  // namespace quiver
