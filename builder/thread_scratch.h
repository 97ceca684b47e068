// The coder's per-thread scratch: a match tree and a sorter, made on a
// thread's first use and kept for its next members and blocks. Held by
// plain thread-local pointers, freed by ReleaseThreadScratch: a pool thread
// calls it as it ends, and a thread that never does (the main thread) keeps
// its scratch until the process ends. Thread-local objects with destructors
// are avoided on purpose: with mingw-w64's static runtime their destructors
// can run after the thread's storage is gone.
#pragma once

namespace quiver {

struct EncoderState;
class SortedNeighbours;

EncoderState& ThreadEncoderState();
SortedNeighbours& ThreadSortedNeighbours();
void ReleaseThreadScratch();

}  // namespace quiver
