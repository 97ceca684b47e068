#include "shown_name.h"

namespace quiver {

std::string ShownName(const char* name) {
  std::string shown;
  for (const char* p = name; *p != '\0'; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    const auto next = static_cast<unsigned char>(p[1]);
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
