#include "standard_output.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform.h"
#include "shown_name.h"

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
  // Long work that began, oldest first, and the width of what is drawn of
  // it on standard error.
  std::list<const LongWork*> works;
  std::size_t drawn = 0;
  bool error_terminal = false;
  bool work_ended = false;
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

// A long work shows once it has lasted this long.
constexpr auto kShowAfter = std::chrono::seconds(1);
constexpr std::size_t kShownWidth = 72;

void WriteError(const std::string& text) {
  WriteToConsole(kStandardError, text.data(), text.size());
}

// Clears the long work drawn on standard error; under the lock.
void ClearWork(Output& out) {
  if (out.drawn == 0) return;
  std::string blank(out.drawn + 2, ' ');
  blank.front() = blank.back() = '\r';
  WriteError(blank);
  out.drawn = 0;
}

// Draws the oldest long work that has lasted long enough; under the lock.
void DrawWork(Output& out) {
  const auto now = std::chrono::steady_clock::now();
  for (const LongWork* work : out.works) {
    if (now - work->since() < kShowAfter) continue;
    std::string text(1, '\r');
    text += work->name().substr(0, kShownWidth);
    text += ' ';
    text += std::to_string(work->Percent());
    text += '%';
    const std::size_t width = text.size() - 1;
    if (width < out.drawn) text.append(out.drawn - width, ' ');
    WriteError(text);
    out.drawn = std::max(out.drawn, width);
    return;
  }
  ClearWork(out);
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
      return out.closing || out.flush_asked || out.work_ended || waiting >= kEagerSize ||
             (out.terminal && waiting > 0);
    });
    out.work_ended = false;
    const std::size_t from = out.begin;
    const std::size_t to = out.end;
    out.flush_asked = false;
    if (from != to) {
      // A line of the report never lands behind a percentage.
      ClearWork(out);
      lock.unlock();
      WriteWaiting(out, from, to);
      lock.lock();
    }
    if (out.error_terminal) DrawWork(out);
    out.written.notify_all();
    if (out.closing && out.begin == out.end) {
      ClearWork(out);
      return;
    }
  }
}

// Starts the writer thread, under the lock.
void Start(Output& out) {
  if (!out.started) {
    out.started = true;
    out.terminal = IsTerminal(kStandardOutput);
    out.error_terminal = IsTerminal(kStandardError);
    try {
      NewThreadSignalMask mask;
      out.writer = new std::thread(WriteLoop, std::ref(out));
      out.threaded = true;
    } catch (const std::exception&) {
      // Out of memory or of threads: the lines go out as they come.
    }
  }
}

// Appends `size` bytes, waiting for room while the ring is full.
void Append(Output& out, const char* data, std::size_t size) {
  std::unique_lock<std::mutex> lock(out.mutex);
  Start(out);
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

LongWork::LongWork(const char* name, std::int64_t total, const std::atomic<std::int64_t>& done)
    : name_(ShownName(name)), total_(total), done_(&done) {
  Register();
}

LongWork::LongWork(const char* name, std::int64_t total, FileHandle file, std::int64_t base)
    : name_(ShownName(name)), total_(total), file_(file), base_(base) {
  Register();
}

void LongWork::Register() {
  since_ = std::chrono::steady_clock::now();
  Output& out = TheOutput();
  std::lock_guard<std::mutex> lock(out.mutex);
  Start(out);
  out.works.push_back(this);
}

LongWork::~LongWork() {
  Output& out = TheOutput();
  std::lock_guard<std::mutex> lock(out.mutex);
  out.works.remove(this);
  // Cleared by the writer at once, before any line that follows.
  if (out.drawn != 0) {
    out.work_ended = true;
    out.wake.notify_one();
  }
}

int LongWork::Percent() const {
  std::int64_t done = 0;
  if (done_ != nullptr) {
    done = *done_;
  } else {
    FileStatus status;
    if (StatusOf(file_, status)) done = status.size - base_;
  }
  if (total_ <= 0) return 100;
  return static_cast<int>(std::clamp<std::int64_t>(done * 100 / total_, 0, 100));
}

}  // namespace quiver
