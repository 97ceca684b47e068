#include "extractor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "archive_check.h"
#include "archive_layout.h"
#include "exit_status.h"
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
  std::printf("\n");
  std::printf("quiverx.exe - Quiver extraction utility\n");
  std::printf("Usage: quiverx quivername filename filename filename... OR\n");
  std::printf("       quiverx [+/?]quivername\n");
  std::printf("\n");
  std::printf("\tquivername    - Quiver filename (no .ext)\n");
  std::printf("\tfilename    - File to extract.\n");
  std::printf("\n");
  std::printf("First usage extracts selected files from a quiver.\n");
  std::printf("+ - Explode a quiver into it's directory structure.\n");
  std::printf("? - Display information about the contents of a quiver.\n");
  std::printf("\n");
}

void PrintHelp() {
  PrintUsage();
  std::printf("Options, before quivername (an archive named -name is then ./-name):\n");
  std::printf("\t-C DIR, --directory=DIR - explode or extract below DIR\n");
  std::printf("\t-t, --test              - check every member, write nothing\n");
  std::printf("\t--format=tsv|json       - with ?quivername: a listing for scripts\n");
  std::printf("\t-n, --no-overwrite      - skip members whose file exists\n");
  std::printf("\t-q, --quiet             - print failures only\n");
  std::printf("\t--                      - ends the options\n");
  std::printf("\t-h, --help; --version\n");
  std::printf("\n");
}

ExtractorOptions options;

// A line about work done, which -q leaves out.
void Progress(const char* format, const char* text) {
  if (!options.quiet) std::printf(format, text);
}

struct OpenArchive {
  Archive reader;
  MemberDirectory directory;
};

// A failed member's output goes; a temporary name that stays is named.
bool DropOutput(PendingFile& output, const std::string& directory) {
  if (!output.Discard())
    std::printf("Unable to delete temporary file %s\n",
                ShownName((directory + output.temp()).c_str()).c_str());
  return false;
}

// Writes one member at its stored name; false after printing why not.
bool ExtractMember(OpenArchive& archive, std::size_t index) {
  const MemberInfo info = archive.reader.member(index);
  const std::string shown = ShownName(info.name);
  const char* name = shown.c_str();
  if (const char* reason = UnsafeNameReason(info.name)) {
    std::printf("Unable to extract %s - unsafe name (%s).\n", name, reason);
    return false;
  }
  std::string path = MapMemberPath(info.name);
  const std::size_t slash = path.rfind('/');
  bool through_link = false;
  const FileHandle directory =
      archive.directory.Open(slash == std::string::npos ? "" : path.substr(0, slash), through_link);
  if (through_link) {
    std::printf("Unable to extract %s - a directory on its path is a symbolic link.\n", name);
    return false;
  }
  FileStatus existing;
  if (options.no_overwrite && directory != kNoFile &&
      StatusIn(directory, path.substr(slash + 1).c_str(), existing)) {
    Progress("%s exists - skipped.\n", name);
    return true;
  }
  PendingFile output;
  if (directory == kNoFile || !output.Create(directory, path.substr(slash + 1))) {
    std::printf("Unable to extract %s - error in file creation.\n", name);
    return false;
  }
  const std::string place = path.substr(0, slash + 1);
  const Status status = archive.reader.WriteTo(index, output.file());
  if (status.code() == Status::Code::kWriteFailed) {
    std::printf("Unable to extract %s - write error.\n", name);
    return DropOutput(output, place);
  }
  if (!status) {
    if (info.compressed)
      std::printf("Decompression error for %s\n", name);
    else
      std::printf("Unable to extract %s - read error in quiver.\n", name);
    return DropOutput(output, place);
  }
  switch (output.Commit(!options.no_overwrite)) {
    case PendingFile::Committed::kYes:
      break;
    case PendingFile::Committed::kNameTaken:
      // Made by someone else since it was looked for: still theirs.
      if (!output.Discard()) return DropOutput(output, place);
      Progress("%s exists - skipped.\n", name);
      return true;
    case PendingFile::Committed::kFailed:
      std::printf("Unable to extract %s - error in file creation.\n", name);
      return DropOutput(output, place);
  }
  Progress(info.compressed ? "%s decompressed and extracted.\n" : "%s extracted.\n", name);
  return true;
}

bool ExplodeMembers(OpenArchive& archive) {
  for (std::size_t i = 0; i < archive.reader.size(); ++i)
    if (!ExtractMember(archive, i)) return false;
  return true;
}

bool ExtractNamedMembers(OpenArchive& archive, int argc, char** argv) {
  for (int i = options.first + 1; i < argc; ++i) {
    const char* wanted = argv[i];
    const std::string shown = ShownName(wanted);
    if (std::strlen(wanted) >= kNameSize) {
      std::printf("Unable to extract %s - name longer than %zu characters.\n", shown.c_str(),
                  kNameSize - 1);
      return false;
    }
    std::optional<std::size_t> found = archive.reader.Find(wanted);
    if (!found) {
      std::printf("Unable to extract %s - not found in quiver.\n", shown.c_str());
      return false;
    }
    if (!ExtractMember(archive, *found)) return false;
  }
  return true;
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
        std::printf("quiverx %s\n", QUIVER_VERSION);
        return kExitSuccess;
      case ParseResult::kUsage:
        PrintUsage();
        return kExitUsage;
    }
  }
  InstallMemberCleanup();
  FailWritesPastTheFileSizeLimit();
  LineBufferStandardOutput();
  const char* first = argv[options.first];
  const char mode = first[0];
  const char* base = (mode == '+' || mode == '?') ? first + 1 : first;
  if (std::strlen(base) > kMaxBaseName) {
    std::printf("Quiver name is longer than %zu characters: %s\n", kMaxBaseName, base);
    return kExitFailure;
  }
  std::string archive_name = std::string(base) + kArchiveExtension;
  OpenArchive archive;
  Status opened = archive.reader.OpenFile(archive_name);
  if (opened.code() == Status::Code::kOpenFailed) {
    std::printf("Unable to open %s.\n", archive_name.c_str());
    return kExitFailure;
  }
  // A listing for scripts is the listing alone.
  const bool plain = options.format == ListFormat::kText;
  if (plain) Progress("Opened %s.\n", archive_name.c_str());
  if (!opened) {
    std::printf("Damaged quiver %s - %s.\n", archive_name.c_str(), opened.message().c_str());
    return kExitFailure;
  }
  if (plain) {
    Progress("Filecount - %s\n", std::to_string(archive.reader.size()).c_str());
    Progress("%s", archive.reader.compressed() ? "Files are compressed.\n"
                                               : "Files are not compressed.\n");
  }
  if (!options.directory.empty() && !ChangeDirectory(options.directory.c_str())) {
    std::printf("Unable to use directory %s.\n", options.directory.c_str());
    return kExitFailure;
  }
  const int positional = argc - options.first;
  bool ok = true;
  int status = kExitSuccess;
  if (options.test) {
    ok = TestArchive(archive.reader, options.quiet);
  } else if (positional == 1 && mode == '+') {
    ok = ExplodeMembers(archive);
  } else if (positional == 1 && mode == '?') {
    ListMembers(archive.reader, options.format);
  } else if (positional == 1) {
    PrintUsage();
    status = kExitUsage;
  } else {
    ok = ExtractNamedMembers(archive, argc, argv);
  }
  return ok ? status : kExitFailure;
}

}  // namespace

int RunExtractor(int argc, char** argv) {
  try {
    return FinishStandardOutput(Extract(argc, argv), "quiverx");
  } catch (const std::bad_alloc&) {
    // An unfinished member has been discarded on the way out.
    std::printf("Out of memory\n");
    return FinishStandardOutput(kExitFailure, "quiverx");
  }
}

}  // namespace quiver
