// The member list: white-space separated names, "#" tokens start a comment
// that runs to the end of the line, and a 0x1A byte ends the text.
#pragma once

#include <cstddef>
#include <string_view>

namespace quiver {

struct ResponseCursor {
  std::string_view text;
  std::size_t position = 0;
};

// Next white-space delimited token; empty at the end of the text.
std::string_view NextToken(ResponseCursor& cursor);

// Consumes characters up to and including the next newline, or to the end.
void SkipLine(ResponseCursor& cursor);

// Cuts the text at its end-of-text byte, if any.
std::string_view ResponseText(std::string_view file_bytes);

// Calls `member` for every member name in order and returns their number.
template <typename MemberFn>
std::size_t ForEachMember(std::string_view text, MemberFn member) {
  ResponseCursor cursor{text, 0};
  std::size_t count = 0;
  for (std::string_view token = NextToken(cursor); !token.empty(); token = NextToken(cursor)) {
    if (token[0] == '#') {
      SkipLine(cursor);
    } else {
      if (!member(token)) break;
      ++count;
    }
  }
  return count;
}

// Opens and reads build_run's response file (or standard input) whole;
// ends the run when it cannot be read.
void OpenResponseFile();

// After a failure to open `path`: when the name given already ended in
// `extension`, one line saying that quiver adds it (`form` goes before the
// name as given on the command line).
void ExtensionHint(const char* path, const char* extension, const char* form);

// Counts the member names, makes the run's tables and fills in the names;
// ends the run on a name the tables cannot hold.
void ReadMembers();

}  // namespace quiver
