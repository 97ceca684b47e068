#include "thread_scratch.h"

#include "sorted_neighbours.h"
#include "tree_replay.h"

namespace quiver {
namespace {

thread_local SortedNeighbours* sorted_neighbours = nullptr;
thread_local TreeReplay* tree_replay = nullptr;
thread_local std::vector<NeighbourRecord>* records = nullptr;

}  // namespace

SortedNeighbours& ThreadSortedNeighbours() {
  if (sorted_neighbours == nullptr) sorted_neighbours = new SortedNeighbours();
  return *sorted_neighbours;
}

TreeReplay& ThreadTreeReplay() {
  if (tree_replay == nullptr) tree_replay = new TreeReplay();
  return *tree_replay;
}

std::vector<NeighbourRecord>& ThreadRecords() {
  if (records == nullptr) records = new std::vector<NeighbourRecord>();
  return *records;
}

void ReleaseThreadScratch() {
  delete records;
  records = nullptr;
  delete sorted_neighbours;
  sorted_neighbours = nullptr;
  delete tree_replay;
  tree_replay = nullptr;
}

}  // namespace quiver
