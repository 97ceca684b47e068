// Text at the Win32 boundary, for the two halves of the Windows platform
// layer: UTF-8 inside, UTF-16 for the system.
#pragma once

#include <string>

namespace quiver {

// Empty when `text` is not UTF-8 (or is empty).
std::wstring Wide(const char* text, std::size_t size);
std::string Narrow(const std::wstring& wide);

}  // namespace quiver
