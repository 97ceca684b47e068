#pragma once

#include <cstdint>

namespace quiver {

// Key of a member name: the reflected CRC-32 (polynomial 0xEDB88320) over the
// name with ASCII letters lower-cased, started at 0 and not inverted.
std::uint32_t NameCrc(const char* name);

}  // namespace quiver
