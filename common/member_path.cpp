#include "member_path.h"

#include <cstring>
#include <string_view>

#include "platform.h"

namespace quiver {
namespace {

bool IsDeviceName(std::string_view component) {
  // The part before the first dot, less the spaces Win32 drops before it.
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper(base);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
         upper[3] >= '1' && upper[3] <= '9';
}

// The length of the UTF-8 sequence at p, or 0 when it is not one: no
// overlong form, no surrogate, nothing above U+10FFFF.
int Utf8Length(const unsigned char* p) {
  if (p[0] < 0x80) return 1;
  const auto continuation = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  if (p[0] >= 0xC2 && p[0] <= 0xDF) return continuation(p[1]) ? 2 : 0;
  if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    const bool ok = continuation(p[1]) && continuation(p[2]) && !(p[0] == 0xE0 && p[1] < 0xA0) &&
                    !(p[0] == 0xED && p[1] >= 0xA0);
    return ok ? 3 : 0;
  }
  if (p[0] >= 0xF0 && p[0] <= 0xF4) {
    const bool ok = continuation(p[1]) && continuation(p[2]) && continuation(p[3]) &&
                    !(p[0] == 0xF0 && p[1] < 0x90) && !(p[0] == 0xF4 && p[1] >= 0x90);
    return ok ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string MapMemberPath(const char* name) {
  std::string path(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

const char* UnsafeNameReason(const char* name) {
  if (name[0] == '\0') return "empty name";
  if (IsSeparator(name[0])) return "absolute path";
  bool letter = (name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z');
  if (letter && name[1] == ':') return "drive prefix";
  if (kWindowsFileNames)
    if (const char* reason = WindowsUnsafeNameReason(name)) return reason;
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p == '\0' || IsSeparator(*p)) {
      std::size_t length = static_cast<std::size_t>(p - component);
      if (length == 2 && component[0] == '.' && component[1] == '.') return "parent directory";
      if (*p == '\0') {
        if (length == 0 || (length == 1 && component[0] == '.')) return "directory name";
        return nullptr;
      }
      component = p + 1;
    }
  }
}

const char* WindowsUnsafeNameReason(const char* name) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(name);
  for (std::size_t i = 0; bytes[i] != 0;) {
    const int length = Utf8Length(bytes + i);
    if (length == 0) return "not UTF-8";
    i += static_cast<std::size_t>(length);
  }
  if (std::strchr(name, ':') != nullptr) return "colon";
  for (const unsigned char* p = bytes; *p != 0; ++p)
    if (*p < 0x20 || std::strchr("<>\"|?*", *p) != nullptr) return "character Windows refuses";
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p != '\0' && !IsSeparator(*p)) continue;
    const std::string_view part(component, static_cast<std::size_t>(p - component));
    if (!part.empty() && (part.back() == '.' || part.back() == ' ') && part != "." && part != "..")
      return "name ending in a dot or a space";
    if (IsDeviceName(part)) return "device name";
    if (*p == '\0') return nullptr;
    component = p + 1;
  }
}

std::string HiddenSiblingPrefix(const std::string& path) {
  const std::size_t slash = path.find_last_of(kWindowsFileNames ? "/\\" : "/");
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, base) + "." + path.substr(base, 32);
}

}  // namespace quiver
