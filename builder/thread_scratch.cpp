#include "thread_scratch.h"

#include "lzss_decoder.h"
#include "sorted_neighbours.h"
#include "tree_replay.h"

namespace quiver {
namespace {

thread_local SortedNeighbours* sorted_neighbours = nullptr;
thread_local TreeReplay* tree_replay = nullptr;
thread_local std::vector<NeighbourRecord>* records = nullptr;
thread_local SpanDecoder* span_decoder = nullptr;
thread_local std::vector<std::uint8_t>* read_buffer = nullptr;
thread_local std::vector<std::uint8_t>* stream_buffer = nullptr;
thread_local StringChains* string_chains = nullptr;
thread_local std::vector<BlockBuffers>* block_buffers = nullptr;

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

SpanDecoder& ThreadSpanDecoder() {
  if (span_decoder == nullptr) span_decoder = new SpanDecoder(kUpdateSpan, kUpdateSpan);
  return *span_decoder;
}

std::vector<std::uint8_t>& ThreadReadBuffer() {
  if (read_buffer == nullptr) read_buffer = new std::vector<std::uint8_t>();
  return *read_buffer;
}

std::vector<std::uint8_t>& ThreadStreamBuffer() {
  if (stream_buffer == nullptr) stream_buffer = new std::vector<std::uint8_t>();
  return *stream_buffer;
}

StringChains& ThreadStringChains() {
  if (string_chains == nullptr) string_chains = new StringChains();
  return *string_chains;
}

std::vector<BlockBuffers>& ThreadBlockBuffers() {
  if (block_buffers == nullptr) block_buffers = new std::vector<BlockBuffers>();
  return *block_buffers;
}

void ReleaseThreadScratch() {
  delete block_buffers;
  block_buffers = nullptr;
  delete string_chains;
  string_chains = nullptr;
  delete stream_buffer;
  stream_buffer = nullptr;
  delete span_decoder;
  span_decoder = nullptr;
  delete read_buffer;
  read_buffer = nullptr;
  delete records;
  records = nullptr;
  delete sorted_neighbours;
  sorted_neighbours = nullptr;
  delete tree_replay;
  tree_replay = nullptr;
}

}  // namespace quiver
