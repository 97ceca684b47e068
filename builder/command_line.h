#pragma once

namespace quiver {

// Applies the command-line rules to build_run: the option flags and the
// archive and response-file paths. Ends the process on any misuse.
void ParseBuilderCommandLine(int argc, char** argv);

// Prints the usage text and ends the process with the usage status.
[[noreturn]] void PrintUsage();

}  // namespace quiver
