// Expands one compressed member. Safety promise: never reads past the end of
// its source, never writes more than `limit` bytes to its sink, and touches
// no memory outside its own window, whatever the stream holds.
#pragma once

#include <cstdint>

#include "byte_stream.h"

namespace quiver {

struct DecodeResult {
  std::int64_t produced = 0;
  // The stream ended with its end token within its bytes and within `limit`;
  // otherwise `produced` cannot be trusted.
  bool complete = false;
  // The sink refused bytes.
  bool write_failed = false;
};

// Each call starts from a zero window of its own, so calls are independent
// and may run on several threads at once.
DecodeResult LzssDecoder(ByteSource& source, std::int64_t limit, ByteSink& sink);

}  // namespace quiver
