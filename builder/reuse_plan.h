// quiver -u: which streams of the archive being replaced can serve the new
// list. A member's stream depends only on its bytes and on the window bytes
// it reads past its end (WindowBytesRead), so an old stream whose decoded
// bytes equal the member's and that was coded from the same such bytes is
// the stream a full build would write. Equal bytes are confirmed here, byte
// for byte; the context is compared as the compression stage reaches each
// member, in the new order.
#pragma once

#include <cstdint>
#include <vector>

#include "lzss_encoder.h"
#include "platform.h"
#include "stream_format.h"

namespace quiver {

struct OldStream {
  std::int64_t offset;  // of its stream in the old archive
  std::int32_t stream_length;
  std::int32_t length;
  // Decoded to exactly its length, with the window bytes it read known.
  bool usable;
  std::uint8_t context[kLookAheadSize - 1];
};

struct ReusePlan {
  FileHandle file = kNoFile;  // the old archive, held open until the stage ends
  FileStatus status;          // as checked; any change and nothing more is reused
  std::vector<OldStream> old;
  // For each new member, the old record whose bytes equal its own, or -1.
  std::vector<std::int32_t> source;
};

// With -u under -c or -s: opens the destination and, when it is a sound
// archive, finds the old streams with each new member's bytes. Anything
// wrong with it leaves members without a source, never fails the build.
void PlanReuse(ReusePlan& plan);

// The old record that may serve member `i`, coded from `window`, or -1.
std::int32_t ReusableSource(const ReusePlan& plan, std::int32_t i, const EncoderWindow& window);

// Whether the old archive is still the file that was checked.
bool OldArchiveUnchanged(const ReusePlan& plan);

void CloseOldArchive(ReusePlan& plan);

}  // namespace quiver
