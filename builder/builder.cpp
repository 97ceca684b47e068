#include "builder.h"

#include <cstdio>
#include <new>
#include <vector>

#include "archive_output.h"
#include "build_run.h"
#include "command_line.h"
#include "compression_stage.h"
#include "copy_stage.h"
#include "exit_paths.h"
#include "platform.h"
#include "progress.h"
#include "response_file.h"
#include "standard_output.h"
#include "stored_build.h"
#include "toc_table.h"
#include "totals.h"

namespace quiver {
namespace {

int Build(int argc, char** argv) {
  InstallSignalCleanup();
  FailWritesPastTheFileSizeLimit();
  ParseBuilderCommandLine(argc, argv);
  Progress("Response file    = %s\n", build_run.response_name);
  Progress("Destination file = %s\n", build_run.dest_name);
  OpenResponseFile();
  if (!OpenArchiveOutput()) {
    Print("Unable to create quiver %s\n", build_run.dest_name);
    ExtensionHint(build_run.dest_name, kArchiveExtension, "");
    FatalExit(kExitFailure);
  }
  ReadMembers();
  std::vector<std::uint8_t> copy_buffer;
  if (build_run.compress)
    CompressMembers(copy_buffer);
  else
    MeasureAndCopyMembers(copy_buffer);
  Progress("toc size = %lld\n",
           static_cast<long long>(build_run.count) * static_cast<long long>(kRecordSize));
  AssignOffsets();
  SortTable();
  WriteHeaderAndTable(copy_buffer);
  if (build_run.compress)
    ReportCopies(copy_buffer);
  else
    ReportStoredCopies();
  copy_buffer = {};
  build_run.toc = {};
  ReportTotals();
  if (build_run.compress) DeleteTemporaryFiles();
  std::fclose(build_run.response_file);
  build_run.response_open = false;
  Progress("Closed .rsp file %s\n", build_run.response_name);
  // A run whose report was lost is a failed run, so it replaces nothing.
  if (StandardOutputFailed()) FatalExit(kExitFailure);
  if (!CommitArchive()) ArchiveWriteError();
  build_run.stage = {};
  Progress("Closed quiver %s\n", build_run.dest_name);
  if (build_run.update && build_run.compress)
    Progress("Reused %i of %i members.\n", build_run.reused, build_run.count);
  return FinishStandardOutput(kExitSuccess, "quiver");
}

}  // namespace

int RunBuilder(int argc, char** argv) {
  try {
    return Build(argc, argv);
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

}  // namespace quiver
