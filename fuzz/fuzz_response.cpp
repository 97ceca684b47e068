// The response-file reader on arbitrary text: every member it yields is a
// non-empty run of non-blank bytes that is not a comment, taken from the
// text before any end-of-text byte.
#include <cstdlib>
#include <string_view>

#include "response_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string_view text = quiver::ResponseText(bytes);
  if (text.find('\x1A') != std::string_view::npos) std::abort();
  std::size_t seen = 0;
  std::size_t count = quiver::ForEachMember(text, [&](std::string_view token) {
    if (token.empty() || token[0] == '#') std::abort();
    if (token.data() < text.data() || token.data() + token.size() > text.data() + text.size())
      std::abort();
    for (char c : token)
      if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r') std::abort();
    ++seen;
    return true;
  });
  if (count != seen) std::abort();
  return 0;
}
