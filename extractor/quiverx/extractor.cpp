#include "extractor.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "archive_check.h"
#include "archive_layout.h"
#include "exit_status.h"
#include "extract_members.h"
#include "extractor_options.h"
#include "listing.h"
#include "member_output.h"
#include "member_path.h"
#include "platform.h"
#include "quiver/reader.h"
#include "shown_name.h"
#include "standard_output.h"

namespace quiver {
namespace {

void PrintUsage() {
  Print("\n");
  Print("quiverx.exe - Quiver extraction utility\n");
  Print("Usage: quiverx quivername filename filename filename... OR\n");
  Print("       quiverx [+/?]quivername\n");
  Print("\n");
  Print("\tquivername    - Quiver filename (no .ext)\n");
  Print("\tfilename    - File to extract.\n");
  Print("\n");
  Print("First usage extracts selected files from a quiver.\n");
  Print("+ - Explode a quiver into it's directory structure.\n");
  Print("? - Display information about the contents of a quiver.\n");
  Print("\n");
}

void PrintHelp() {
  PrintUsage();
  Print("Options, before quivername (an archive named -name is then ./-name):\n");
  Print("\t-C DIR, --directory=DIR - explode or extract below DIR\n");
  Print("\t-t, --test              - check every member, write nothing\n");
  Print("\t--format=tsv|json       - with ?quivername: a listing for scripts\n");
  Print("\t-n, --no-overwrite      - skip members whose file exists\n");
  Print("\t-q, --quiet             - print failures only\n");
  Print("\t-j N, --threads=N       - at most N threads (default: the processors it may use)\n");
  Print("\t--                      - ends the options\n");
  Print("\t-h, --help; --version\n");
  Print("\n");
}

ExtractorOptions options;

// A line about work done, which -q leaves out.
void Progress(const char* format, const char* text) {
  if (!options.quiet) Print(format, text);
}

// The members named after the archive, in order; a name too long or not
// found stops the run when its turn comes.
std::vector<ExtractStep> NamedSteps(const Archive& archive, int argc, char** argv) {
  std::vector<ExtractStep> steps;
  for (int i = options.first + 1; i < argc; ++i) {
    const char* wanted = argv[i];
    const std::string shown = ShownName(wanted);
    ExtractStep step;
    if (std::strlen(wanted) >= kNameSize) {
      step.failure = "Unable to extract " + shown + " - name longer than " +
                     std::to_string(kNameSize - 1) + " characters.\n";
    } else if (std::optional<std::size_t> found = archive.Find(wanted)) {
      step.index = *found;
    } else {
      step.failure = "Unable to extract " + shown + " - not found in quiver.\n";
    }
    steps.push_back(step);
    if (!step.failure.empty()) break;
  }
  return steps;
}

std::vector<ExtractStep> EverySteps(const Archive& archive) {
  std::vector<ExtractStep> steps(archive.size());
  for (std::size_t i = 0; i < steps.size(); ++i) steps[i].index = i;
  return steps;
}

int Extract(int argc, char** argv) {
  options = ExtractorOptions{};
  if (argc < 2) {
    PrintUsage();
    return kExitUsage;
  }
  if (argv[1][0] == '-') {
    switch (ParseExtractorOptions(argc, argv, options)) {
      case ParseResult::kRun:
        break;
      case ParseResult::kHelp:
        PrintHelp();
        return kExitSuccess;
      case ParseResult::kVersion:
        Print("quiverx %s\n", QUIVER_VERSION);
        return kExitSuccess;
      case ParseResult::kUsage:
        PrintUsage();
        return kExitUsage;
    }
  }
  InstallMemberCleanup();
  FailWritesPastTheFileSizeLimit();
  const char* first = argv[options.first];
  const char mode = first[0];
  const char* base = (mode == '+' || mode == '?') ? first + 1 : first;
  if (std::strlen(base) > kMaxBaseName) {
    Print("Quiver name is longer than %zu characters: %s\n", kMaxBaseName, base);
    return kExitFailure;
  }
  std::string archive_name = std::string(base) + kArchiveExtension;
  Archive archive;
  Status opened = archive.OpenFile(archive_name);
  if (opened.code() == Status::Code::kOpenFailed) {
    Print("Unable to open %s.\n", archive_name.c_str());
    return kExitFailure;
  }
  // A listing for scripts is the listing alone.
  const bool plain = options.format == ListFormat::kText;
  if (plain) Progress("Opened %s.\n", archive_name.c_str());
  if (!opened) {
    Print("Damaged quiver %s - %s.\n", archive_name.c_str(), opened.message().c_str());
    return kExitFailure;
  }
  if (plain) {
    Progress("Filecount - %s\n", std::to_string(archive.size()).c_str());
    Progress("%s",
             archive.compressed() ? "Files are compressed.\n" : "Files are not compressed.\n");
  }
  if (!options.directory.empty() && !ChangeDirectory(options.directory.c_str())) {
    Print("Unable to use directory %s.\n", options.directory.c_str());
    return kExitFailure;
  }
  const int positional = argc - options.first;
  ExtractSettings settings;
  settings.no_overwrite = options.no_overwrite;
  settings.quiet = options.quiet;
  settings.threads = options.threads > 0 ? options.threads : AvailableProcessors();
  bool ok = true;
  int status = kExitSuccess;
  if (options.test) {
    ok = TestArchive(archive, options.quiet, settings.threads);
  } else if (positional == 1 && mode == '+') {
    ok = ExtractMembers(archive, EverySteps(archive), settings);
  } else if (positional == 1 && mode == '?') {
    ListMembers(archive, options.format);
  } else if (positional == 1) {
    PrintUsage();
    status = kExitUsage;
  } else {
    ok = ExtractMembers(archive, NamedSteps(archive, argc, argv), settings);
  }
  return ok ? status : kExitFailure;
}

}  // namespace

int RunExtractor(int argc, char** argv) {
  try {
    return FinishStandardOutput(Extract(argc, argv), "quiverx");
  } catch (const std::bad_alloc&) {
    // An unfinished member has been discarded on the way out.
    Print("Out of memory\n");
    return FinishStandardOutput(kExitFailure, "quiverx");
  }
}

}  // namespace quiver
