#include "shown_name.h"

namespace quiver {

std::string ShownName(const char* name) {
  std::string shown = name;
  for (char& c : shown) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return shown;
}

}  // namespace quiver
