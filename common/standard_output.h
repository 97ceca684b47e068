// The programs report everything on standard output, so a listing or
// transcript that could not be written is a failed run.
//
// Every line goes through Print into one buffer that a writer thread of its
// own hands to the system: on a terminal each line at once, elsewhere (a
// log file, a pipe) when a line has waited 100 ms or the buffer fills, so a
// log shows how far a run got without a system call per line. A clean-up
// signal handler writes what is still waiting with WritePendingOutput
// before the process dies.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "platform.h"

// The format checks of the formatting used here: with mingw-w64 that is
// its own printf, not the Windows runtime's.
#ifdef __MINGW32__
#define QUIVER_PRINTF(string, first) __attribute__((format(gnu_printf, string, first)))
#else
#define QUIVER_PRINTF(string, first) __attribute__((format(printf, string, first)))
#endif

namespace quiver {

// The program's lines, printf-style, in the order of the calls.
void Print(const char* format, ...) QUIVER_PRINTF(1, 2);
void PrintList(const char* format, va_list args);

// Writes every line printed so far; true when some of it could not be
// written.
bool StandardOutputFailed();

// Writes every line printed so far and stops the writer; when standard
// output could not be written, says so on standard error and turns a status
// of 0 into 1.
int FinishStandardOutput(int status, const char* program);

// Safe in a signal handler: writes the lines still waiting, once the writer
// thread is done with what it is writing; the writer writes no more after.
void WritePendingOutput();

// A member that takes more than a second to compress, copy or decode shows
// its percentage on standard error while it lasts, when that is a terminal
// (never in a log), overwritten in place and cleared when it ends. Of
// several at once the one that began first shows. Its progress is read from
// `done`, or from the size of `file` beyond `base`; either must outlive it.
class LongWork {
 public:
  LongWork(const char* name, std::int64_t total, const std::atomic<std::int64_t>& done);
  LongWork(const char* name, std::int64_t total, FileHandle file, std::int64_t base);
  ~LongWork();
  LongWork(const LongWork&) = delete;
  LongWork& operator=(const LongWork&) = delete;

  // The percentage done, as the display reads it.
  int Percent() const;

  const std::string& name() const { return name_; }
  std::chrono::steady_clock::time_point since() const { return since_; }

 private:
  void Register();

  std::string name_;
  std::int64_t total_;
  const std::atomic<std::int64_t>* done_ = nullptr;
  FileHandle file_ = kNoFile;
  std::int64_t base_ = 0;
  std::chrono::steady_clock::time_point since_;
};

}  // namespace quiver
