#include "thread_scratch.h"

#include "match_tree.h"
#include "sorted_neighbours.h"

namespace quiver {
namespace {

thread_local EncoderState* encoder_state = nullptr;
thread_local SortedNeighbours* sorted_neighbours = nullptr;

}  // namespace

EncoderState& ThreadEncoderState() {
  // Value-initialised: a state starts zero.
  if (encoder_state == nullptr) encoder_state = new EncoderState();
  return *encoder_state;
}

SortedNeighbours& ThreadSortedNeighbours() {
  if (sorted_neighbours == nullptr) sorted_neighbours = new SortedNeighbours();
  return *sorted_neighbours;
}

void ReleaseThreadScratch() {
  delete encoder_state;
  encoder_state = nullptr;
  delete sorted_neighbours;
  sorted_neighbours = nullptr;
}

}  // namespace quiver
