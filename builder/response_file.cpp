#include "response_file.h"

namespace quiver {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string_view NextToken(ResponseCursor& cursor) {
  const std::string_view text = cursor.text;
  std::size_t p = cursor.position;
  while (p < text.size() && IsSpace(text[p])) ++p;
  std::size_t start = p;
  while (p < text.size() && !IsSpace(text[p])) ++p;
  cursor.position = p;
  return text.substr(start, p - start);
}

void SkipLine(ResponseCursor& cursor) {
  while (cursor.position < cursor.text.size()) {
    if (cursor.text[cursor.position++] == '\n') return;
  }
}

std::string_view ResponseText(std::string_view file_bytes) {
  std::size_t end = file_bytes.find('\x1A');
  return end == std::string_view::npos ? file_bytes : file_bytes.substr(0, end);
}

}  // namespace quiver
