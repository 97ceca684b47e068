#include "listing.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "shown_name.h"
#include "standard_output.h"

namespace quiver {
namespace {

// The length of the UTF-8 sequence at `p` (at most `left` bytes), or 0
// when it is not one.
int Utf8Length(const unsigned char* p, std::size_t left) {
  const unsigned char lead = p[0];
  int length = lead < 0x80                    ? 1
               : lead >= 0xC2 && lead <= 0xDF ? 2
               : lead >= 0xE0 && lead <= 0xEF ? 3
               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                              : 0;
  if (length == 0 || static_cast<std::size_t>(length) > left) return 0;
  for (int i = 1; i < length; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  // No overlong forms, surrogates or values past U+10FFFF.
  if ((lead == 0xE0 && p[1] < 0xA0) || (lead == 0xED && p[1] >= 0xA0) ||
      (lead == 0xF0 && p[1] < 0x90) || (lead == 0xF4 && p[1] >= 0x90))
    return 0;
  return length;
}

// The code point of a UTF-8 sequence of `length` bytes at `p`.
unsigned CodePoint(const unsigned char* p, int length) {
  if (length == 1) return p[0];
  unsigned value = p[0] & (0x7Fu >> length);
  for (int i = 1; i < length; ++i) value = value << 6 | (p[i] & 0x3Fu);
  return value;
}

// What a reader may take for a control or a line break: C0 and C1 controls,
// DEL, and the Unicode line and paragraph separators.
bool IsControl(unsigned code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F) || code_point == 0x2028 ||
         code_point == 0x2029;
}

// `name` with each UTF-8 sequence that `escape` rewrites (it returns "" to
// keep it) and each byte that is not UTF-8 rewritten by `escape_byte`.
template <typename EscapeFn, typename ByteFn>
std::string Escaped(const char* name, EscapeFn escape, ByteFn escape_byte) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(name);
  std::size_t left = std::char_traits<char>::length(name);
  while (left > 0) {
    const int length = Utf8Length(p, left);
    const std::size_t taken = length == 0 ? 1 : static_cast<std::size_t>(length);
    const std::string rewritten = length == 0 ? escape_byte(*p) : escape(p, length);
    out += rewritten.empty() ? std::string(reinterpret_cast<const char*>(p), taken) : rewritten;
    p += taken;
    left -= taken;
  }
  return out;
}

std::string Hex(const char* format, unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string TsvByte(unsigned char byte) {
  return Hex("\\x%02x", byte);
}

// A name in a TSV field: "\\", "\t", "\n", "\r", and "\xHH" for every
// other byte of a control and for bytes that are not UTF-8, so that no byte
// is lost.
std::string TsvName(const char* name) {
  return Escaped(
      name,
      [](const unsigned char* p, int length) -> std::string {
        if (*p == '\\') return "\\\\";
        if (*p == '\t') return "\\t";
        if (*p == '\n') return "\\n";
        if (*p == '\r') return "\\r";
        if (!IsControl(CodePoint(p, length))) return "";
        std::string bytes;
        for (int i = 0; i < length; ++i) bytes += TsvByte(p[i]);
        return bytes;
      },
      TsvByte);
}

// A name as a JSON string: controls and separators as "\uXXXX"; a byte that
// is not UTF-8 becomes the lone surrogate U+DC80 to U+DCFF, as Python's
// surrogateescape reads it.
std::string JsonName(const char* name) {
  std::string json(1, '"');
  json += Escaped(
      name,
      [](const unsigned char* p, int length) -> std::string {
        if (*p == '"' || *p == '\\') return std::string(1, '\\') + static_cast<char>(*p);
        const unsigned code_point = CodePoint(p, length);
        return IsControl(code_point) ? Hex("\\u%04x", code_point) : "";
      },
      [](unsigned char byte) { return Hex("\\u%04x", 0xDC00u + byte); });
  json += '"';
  return json;
}

}  // namespace

void ListMembers(const Archive& archive, ListFormat format) {
  if (format == ListFormat::kTsv)
    Print("name\toriginal_length\tstored_length\tcompressed\tkey\toffset\n");
  if (format == ListFormat::kJson) Print("[");
  for (std::size_t i = 0; i < archive.size(); ++i) {
    const MemberInfo info = archive.member(i);
    switch (format) {
      case ListFormat::kText:
        // The recorded compressed length whenever there is one, whatever the header says.
        Print("%s - %d\n", ShownName(info.name).c_str(),
              info.compressed_length != 0 ? info.compressed_length : info.original_length);
        break;
      case ListFormat::kTsv:
        Print("%s\t%d\t%" PRId64 "\t%d\t%" PRIu32 "\t%" PRId64 "\n", TsvName(info.name).c_str(),
              info.original_length, info.stored_length, info.compressed ? 1 : 0, info.key,
              info.data_offset);
        break;
      case ListFormat::kJson:
        Print("%s\n  {\"name\": %s, \"original_length\": %d, \"stored_length\": %" PRId64
              ", \"compressed\": %s, \"key\": %" PRIu32 ", \"offset\": %" PRId64 "}",
              i == 0 ? "" : ",", JsonName(info.name).c_str(), info.original_length,
              info.stored_length, info.compressed ? "true" : "false", info.key, info.data_offset);
        break;
    }
  }
  if (format == ListFormat::kJson) Print("%s]\n", archive.size() == 0 ? "" : "\n");
}

}  // namespace quiver
