#include "standard_output.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform.h"

namespace quiver {
namespace {

// A line waits at most this long when standard output is not a terminal.
constexpr auto kLongestWait = std::chrono::milliseconds(100);
// With this much waiting the writer goes at once, in large writes.
constexpr std::size_t kEagerSize = 64 << 10;
constexpr std::size_t kRingSize = 1 << 20;

// The waiting bytes lie in `ring` from `begin` to `end`, counts that only
// grow (positions are taken modulo the ring's size): Print appends at `end`,
// and only the writer thread, or at the last a signal handler, moves `begin`.
// The writer's write in progress and the handler that takes over each set
// their own flag before they look at the other's, so at most one writes.
struct Output {
  char ring[kRingSize];
  std::atomic<std::size_t> begin{0};
  std::atomic<std::size_t> end{0};
  std::atomic<bool> writing{false};
  std::atomic<bool> taken_over{false};
  std::atomic<bool> failed{false};
  std::atomic<bool> broken_pipe{false};

  std::mutex mutex;
  std::condition_variable wake;     // the writer
  std::condition_variable written;  // Print waiting for room, and flushes
  bool terminal = false;
  bool closing = false;
  bool flush_asked = false;
  bool started = false;
  // Without a thread of its own (the system gave none) the printing thread
  // writes each line itself, and a handler cannot tell whether the write
  // it interrupted is done.
  std::atomic<bool> threaded{false};
  std::thread* writer = nullptr;
};

Output& TheOutput() {
  static Output output;
  return output;
}

// Writes the waiting bytes from `from` to `to` in at most two pieces, as
// the ring wraps; failures are recorded, and the bytes count as gone.
void WriteRange(Output& out, std::size_t from, std::size_t to) {
  while (from != to) {
    const std::size_t at = from % kRingSize;
    const std::size_t size = std::min(to - from, kRingSize - at);
    const ConsoleWrite result = WriteToConsole(kStandardOutput, out.ring + at, size);
    if (result != ConsoleWrite::kOk) out.failed = true;
    if (result == ConsoleWrite::kBrokenPipe) out.broken_pipe = true;
    from += size;
  }
}

// The writer's side of the hand-over to a signal handler.
void WriteWaiting(Output& out, std::size_t from, std::size_t to) {
  out.writing = true;
  if (!out.taken_over) {
    WriteRange(out, from, to);
    out.begin = to;
  }
  out.writing = false;
}

void WriteLoop(Output& out) {
  std::unique_lock<std::mutex> lock(out.mutex);
  for (;;) {
    out.wake.wait_for(lock, kLongestWait, [&out] {
      const std::size_t waiting = out.end - out.begin;
      return out.closing || out.flush_asked || waiting >= kEagerSize ||
             (out.terminal && waiting > 0);
    });
    const std::size_t from = out.begin;
    const std::size_t to = out.end;
    out.flush_asked = false;
    if (from != to) {
      lock.unlock();
      WriteWaiting(out, from, to);
      lock.lock();
    }
    out.written.notify_all();
    if (out.closing && out.begin == out.end) return;
  }
}

// Appends `size` bytes, waiting for room while the ring is full.
void Append(Output& out, const char* data, std::size_t size) {
  std::unique_lock<std::mutex> lock(out.mutex);
  if (!out.started) {
    out.started = true;
    out.terminal = IsTerminal(kStandardOutput);
    try {
      NewThreadSignalMask mask;
      out.writer = new std::thread(WriteLoop, std::ref(out));
      out.threaded = true;
    } catch (const std::exception&) {
      // Out of memory or of threads: the lines go out as they come.
    }
  }
  const bool line = std::memchr(data, '\n', size) != nullptr;
  while (size > 0) {
    const std::size_t end = out.end;
    const std::size_t room = kRingSize - (end - out.begin);
    if (room == 0) {
      out.flush_asked = true;
      out.wake.notify_one();
      out.written.wait(lock);
      continue;
    }
    const std::size_t at = end % kRingSize;
    const std::size_t chunk = std::min({size, room, kRingSize - at});
    std::memcpy(out.ring + at, data, chunk);
    out.end = end + chunk;
    data += chunk;
    size -= chunk;
  }
  if (!out.threaded)
    WriteWaiting(out, out.begin, out.end);
  else if ((out.terminal && line) || out.end - out.begin >= kEagerSize)
    out.wake.notify_one();
}

// The reader of standard output has gone: the printing thread takes
// SIGPIPE, as its own write would have given it.
void TellBrokenPipe(const Output& out) {
  if (out.broken_pipe) RaiseBrokenPipe();
}

}  // namespace

void PrintList(const char* format, va_list args) {
  char line[1024];
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(line, sizeof line, format, args);
  Output& out = TheOutput();
  if (size >= 0 && static_cast<std::size_t>(size) < sizeof line) {
    Append(out, line, static_cast<std::size_t>(size));
  } else if (size > 0) {
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    Append(out, text.data(), static_cast<std::size_t>(size));
  }
  va_end(again);
  TellBrokenPipe(out);
}

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintList(format, args);
  va_end(args);
}

bool StandardOutputFailed() {
  Output& out = TheOutput();
  {
    std::unique_lock<std::mutex> lock(out.mutex);
    if (out.writer != nullptr) {
      const std::size_t target = out.end;
      out.flush_asked = true;
      out.wake.notify_one();
      out.written.wait(lock, [&out, target] { return out.begin >= target || out.taken_over; });
    }
  }
  TellBrokenPipe(out);
  return out.failed;
}

int FinishStandardOutput(int status, const char* program) {
  const bool failed = StandardOutputFailed();
  Output& out = TheOutput();
  std::thread* writer = nullptr;
  {
    std::lock_guard<std::mutex> lock(out.mutex);
    out.closing = true;
    out.wake.notify_one();
    writer = std::exchange(out.writer, nullptr);
  }
  if (writer != nullptr) {
    writer->join();
    delete writer;
  }
  if (!failed) return status;
  std::fprintf(stderr, "%s: unable to write standard output\n", program);
  return status == 0 ? 1 : status;
}

void WritePendingOutput() {
  Output& out = TheOutput();
  out.taken_over = true;
  while (out.threaded && out.writing) {
    // The writer thread finishes the write it is in.
  }
  const std::size_t to = out.end;
  WriteRange(out, out.begin, to);
  out.begin = to;
}

}  // namespace quiver
