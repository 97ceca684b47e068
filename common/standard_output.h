// The programs report everything on standard output, so a listing or
// transcript that could not be written is a failed run.
#pragma once

namespace quiver {

// Each line goes out as it is printed, so that a log written to a file or a
// pipe shows how far an interrupted run got.
void LineBufferStandardOutput();

// Flushes standard output; true when some of it could not be written.
bool StandardOutputFailed();

// Flushes standard output; when it could not be written, says so on
// standard error and turns a status of 0 into 1.
int FinishStandardOutput(int status, const char* program);

}  // namespace quiver
