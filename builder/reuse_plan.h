// quiver -u: which streams of the archive being replaced can serve the new
// list. A member's stream depends only on its bytes and on the window bytes
// it reads past its end (WindowBytesRead), so an old stream whose decoded
// bytes equal the member's and that was coded from the same such bytes is
// the stream a full build would write. Equal bytes are confirmed here, byte
// for byte; the context is compared as the compression stage reaches each
// member, in the new order. Under -s a member the old archive stored raw
// serves with its bytes, whatever its context: the length of its stream is
// measured again (stream_length.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lzss_encoder.h"
#include "platform.h"
#include "stream_format.h"

namespace quiver {

class WorkerPool;

struct OldStream {
  std::int64_t offset;  // of its stream in the old archive
  std::int32_t stream_length;
  std::int32_t length;
  // Decoded to exactly its length, with the window bytes it read known.
  bool usable;
  std::uint8_t context[kLookAheadSize - 1];
};

// The bytes a member takes in the old archive: its stream, or its bytes
// stored raw.
inline std::int64_t StoredSize(const OldStream& old) {
  return old.stream_length != 0 ? old.stream_length : old.length;
}

struct ReuseProgress;

struct ReusePlan {
  ReusePlan();
  ~ReusePlan();

  FileHandle file = kNoFile;  // the old archive, held open until the stage ends
  FileStatus status;          // as checked; any change and nothing more is reused
  std::vector<OldStream> old;
  // For each new member, the old record whose bytes equal its own, or -1;
  // under -s, whether the old record of its name and length was stored raw.
  std::vector<std::int32_t> source;
  std::vector<bool> stored_raw;
  // The window positions that members after new member i read from what i
  // left there, read_positions[read_first[i] to read_first[i + 1]), and
  // for a member with a source, the bytes it leaves at them. The window
  // must be exact only where it is read, so a member whose old stream
  // serves moves it by these bytes alone.
  std::vector<std::int64_t> read_first;
  std::vector<std::uint16_t> read_positions;
  std::vector<std::uint8_t> read_bytes;
  // The decoding under way, until every source is known.
  std::unique_ptr<ReuseProgress> progress;
};

// With -u under -c or -s: opens the destination and loads its table on a
// thread of `pool`, while the members are measured.
void StartLoadingOldArchive(ReusePlan& plan, WorkerPool& pool);
// Waits for that load; throws what it threw (std::bad_alloc).
void AwaitOldArchive(ReusePlan& plan);

// Once the members are measured: when the destination is a sound archive,
// sets out to find the old streams with each new member's bytes, on the
// pool's threads. Anything wrong with it leaves members without a source,
// never fails the build.
void StartReusePlan(ReusePlan& plan);

// Waits until member `i`'s source is known: its old member of the same
// name decoded and compared, or when it has none, every old member.
void AwaitSource(ReusePlan& plan, std::int32_t i);

// The old record that may serve member `i`, coded from `window`, or -1.
std::int32_t ReusableSource(const ReusePlan& plan, std::int32_t i, const EncoderWindow& window);

// Moves `window` past member `i`, served by its source, where it is read.
void LeaveReadBytes(const ReusePlan& plan, std::int32_t i, EncoderWindow& window);

// Waits for the decoding still under way, then hands the old archive on to
// the commit (build_run.old_archive).
void FinishReuse(ReusePlan& plan);

}  // namespace quiver
