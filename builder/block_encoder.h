// One long member compressed on several threads into exactly the stream
// that one coder going through it byte by byte writes. The tree of a coder
// at any point holds a set of strings that the bytes alone decide (the 4080
// before it, less those an equal later string replaced); only its shape
// depends on the whole history. So each worker files a block's strings into
// a tree of its own, warmed up on the strings before the block, and records
// every string's neighbours; the calling thread replays the shape's
// decisions in order (TreeReplay) and writes the tokens.
#pragma once

#include <cstdint>

#include "bit_file.h"
#include "lzss_encoder.h"

namespace quiver {

// Codes the `length` bytes of the regular file open at `fd` into `bits`,
// starting from `window`, which it then leaves as the member leaves it.
// Blocks of `block_size` bytes, at least 8192. kOk, or the source's failure.
CompressStatus EncodeInBlocks(int fd, std::int64_t length, EncoderWindow& window, BitFile& bits,
                              std::int64_t block_size, int workers);

}  // namespace quiver
