#include "response_file.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "build_run.h"
#include "exit_paths.h"
#include "progress.h"
#include "standard_output.h"

namespace quiver {
namespace {

// The response file's bytes, read once.
std::string response_bytes;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void CopyName(char* buffer, std::string_view token) {
  std::memcpy(buffer, token.data(), token.size());
  buffer[token.size()] = '\0';
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

// Says how a name given with its extension was read, after a failure to
// open it: quiver adds the extension to every name.
void ExtensionHint(const char* path, const char* extension, const char* form) {
  const std::string_view name = path;
  const std::string doubled = std::string(extension) + extension;
  if (!name.ends_with(doubled)) return;
  const std::string_view given = name.substr(0, name.size() - std::strlen(extension));
  const std::string_view bare = given.substr(0, given.size() - std::strlen(extension));
  Print("Hint: %s is added to the name given; for %.*s give %s%.*s\n", extension,
        static_cast<int>(given.size()), given.data(), form, static_cast<int>(bare.size()),
        bare.data());
}

void OpenResponseFile() {
  build_run.response_file =
      build_run.response_from_input ? stdin : std::fopen(build_run.response_name, "rb");
  if (build_run.response_file == nullptr) {
    Print("Unable to open response file %s\n", build_run.response_name);
    ExtensionHint(build_run.response_name, ".rsp", "@");
    FatalExit(kExitFailure);
  }
  build_run.response_open = true;
  response_bytes.clear();
  char chunk[1 << 14];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, build_run.response_file)) > 0)
    response_bytes.append(chunk, n);
  if (std::ferror(build_run.response_file)) {
    Print("Unable to open response file %s\n", build_run.response_name);
    FatalExit(kExitFailure);
  }
  Progress("Opened %s\n", build_run.response_name);
}

void ReadMembers() {
  std::string_view text = ResponseText(response_bytes);
  std::size_t count = ForEachMember(text, [](std::string_view token) {
    if (token.size() >= kNameSize) {
      Print("Member name longer than %zu characters in %s: %.*s\n", kNameSize - 1,
            build_run.response_name, static_cast<int>(token.size()), token.data());
      FatalExit(kExitFailure);
    }
    // A name is kept up to its first NUL: the member would be stored under
    // another name than written.
    if (token.find('\0') != std::string_view::npos) {
      Print("Member name with a NUL byte in %s: %s\n", build_run.response_name,
            std::string(token.substr(0, token.find('\0'))).c_str());
      FatalExit(kExitFailure);
    }
    return true;
  });
  if (count > 0x7FFFFFFF / kRecordSize) {
    Print("Quiver %s would be 2 GiB or larger\n", build_run.dest_name);
    FatalExit(kExitFailure);
  }
  build_run.count = static_cast<std::int32_t>(count);
  Progress("filecount = %d\n", build_run.count);
  build_run.toc = LargeArray<TocEntry>(count, LargeArray<TocEntry>::Start::kValueInitialised);
  build_run.stage = LargeArray<StageEntry>(count, LargeArray<StageEntry>::Start::kValueInitialised);
  std::size_t i = 0;
  ForEachMember(text, [&i](std::string_view token) {
    if (i == static_cast<std::size_t>(build_run.count)) return false;
    CopyName(build_run.toc[i].name, token);
    CopyName(build_run.stage[i].source_path, token);
    ++i;
    return true;
  });
}

}  // namespace quiver
