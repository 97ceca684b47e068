#include "builder.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "archive_output.h"
#include "build_pipeline.h"
#include "build_run.h"
#include "command_line.h"
#include "compression_stage.h"
#include "response_file.h"
#include "standard_output.h"
#include "stored_build.h"

namespace quiver {
namespace {

std::string response_bytes;

void OpenResponseFile() {
  build_run.response_file = std::fopen(build_run.response_name, "rb");
  if (build_run.response_file == nullptr) {
    std::printf("Unable to open response file %s\n", build_run.response_name);
    FatalExit(kExitFailure);
  }
  build_run.response_open = true;
  char chunk[1 << 14];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, build_run.response_file)) > 0)
    response_bytes.append(chunk, n);
  if (std::ferror(build_run.response_file)) {
    std::printf("Unable to open response file %s\n", build_run.response_name);
    FatalExit(kExitFailure);
  }
  std::printf("Opened %s\n", build_run.response_name);
}

void CopyName(char* buffer, std::string_view token) {
  std::memcpy(buffer, token.data(), token.size());
  buffer[token.size()] = '\0';
}

void ReadMembers() {
  std::string_view text = ResponseText(response_bytes);
  std::size_t count = ForEachMember(text, [](std::string_view token) {
    if (token.size() >= kNameSize) {
      std::printf("Member name longer than %zu characters in %s: %.*s\n", kNameSize - 1,
                  build_run.response_name, static_cast<int>(token.size()), token.data());
      FatalExit(kExitFailure);
    }
    return true;
  });
  if (count > 0x7FFFFFFF / kRecordSize) {
    std::printf("Quiver %s would be 2 GiB or larger\n", build_run.dest_name);
    FatalExit(kExitFailure);
  }
  build_run.count = static_cast<std::int32_t>(count);
  std::printf("filecount = %d\n", build_run.count);
  build_run.toc = std::make_unique<TocEntry[]>(count);
  build_run.stage = std::make_unique<StageEntry[]>(count);
  std::size_t i = 0;
  ForEachMember(text, [&i](std::string_view token) {
    if (i == static_cast<std::size_t>(build_run.count)) return false;
    CopyName(build_run.toc[i].name, token);
    CopyName(build_run.stage[i].source_path, token);
    ++i;
    return true;
  });
}

int Build(int argc, char** argv) {
  InstallSignalCleanup();
  ParseBuilderCommandLine(argc, argv);
  std::printf("Response file    = %s\n", build_run.response_name);
  std::printf("Destination file = %s\n", build_run.dest_name);
  OpenResponseFile();
  if (!OpenArchiveOutput()) {
    std::printf("Unable to create quiver %s\n", build_run.dest_name);
    FatalExit(kExitFailure);
  }
  ReadMembers();
  auto copy_buffer = std::make_unique<std::uint8_t[]>(kCopyBufferSize);
  if (build_run.compress) {
    MeasureMembers();
    CompressMembers();
  } else {
    MeasureAndCopyMembers(copy_buffer.get());
  }
  std::printf("toc size = %lld\n",
              static_cast<long long>(build_run.count) * static_cast<long long>(kRecordSize));
  AssignOffsets();
  build_run.toc_ready = true;
  SortTable();
  WriteHeaderAndTable(copy_buffer.get());
  if (build_run.compress)
    CopyMembers(copy_buffer.get());
  else
    ReportStoredCopies();
  copy_buffer.reset();
  build_run.toc.reset();
  ReportTotals();
  std::fclose(build_run.response_file);
  build_run.response_open = false;
  std::printf("Closed .rsp file %s\n", build_run.response_name);
  // A run whose report was lost is a failed run, so it replaces nothing.
  if (StandardOutputFailed()) FatalExit(kExitFailure);
  if (!CommitArchive()) ArchiveWriteError();
  build_run.stage.reset();
  std::printf("Closed quiver %s\n", build_run.dest_name);
  return FinishStandardOutput(kExitSuccess, "quiver");
}

}  // namespace

int RunBuilder(int argc, char** argv) {
  try {
    return Build(argc, argv);
  } catch (const std::bad_alloc&) {
    std::printf("Out of memory\n");
    FatalExit(kExitFailure);
  }
}

}  // namespace quiver
