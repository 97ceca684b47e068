// One long member compressed on several threads into exactly the stream
// that one coder going through it byte by byte writes. The tree of a coder
// at any point holds a set of strings that the bytes alone decide (the 4080
// before it, less those an equal later string replaced); only its shape
// depends on the whole history. So each block's strings are sorted with
// the strings before the block, which gives every string's neighbours
// (SortedNeighbours, on the pool's threads, a few blocks ahead); the coding
// thread replays the shape's decisions in order (TreeReplay) and writes the
// tokens.
#pragma once

#include <cstdint>

#include "bit_file.h"
#include "lzss_encoder.h"

namespace quiver {

// Codes the `length` bytes of the regular file open at `source` into
// `bits`, in blocks of `block_size` bytes, at least 8192, with `length`
// at least one block: the window the member starts from then plays no
// part, as its strings read past its end only into its own bytes. kOk, or
// the source's failure.
CompressStatus EncodeInBlocks(FileHandle source, std::int64_t length, BitFile& bits,
                              std::int64_t block_size, WorkerPool& pool,
                              std::atomic<std::int64_t>* progress);

}  // namespace quiver
