#include "memory_coder.h"

#include <algorithm>

#include "thread_scratch.h"
#include "token_loop.h"
#include "tree_replay.h"

namespace quiver {
namespace {

// Records are found this many strings at a time for a member too long to
// be sorted with others.
constexpr std::int64_t kRecordChunk = SortedNeighbours::kShortMemberLimit;

// The coder's side: a member's recorded neighbours, replayed in order. A
// long member's records come a chunk at a time, found as the coder reaches
// them.
class RecordMatcher {
 public:
  RecordMatcher(const std::uint8_t* bytes, std::int64_t length, const NeighbourRecord* records,
                std::int64_t recorded)
      : bytes_(bytes), length_(length), records_(records), recorded_(recorded) {
    replay_.Reset(
        1, static_cast<int>(std::min<std::int64_t>(length + kLookAheadSize + 1, kWindowSize)));
  }
  // For a long member: its records are found into `scratch` from
  // `strings`, a chunk at a time as the coder comes to them.
  void FindAsNeeded(const StringBytes* strings, NeighbourRecord* scratch) {
    strings_ = strings;
    scratch_ = scratch;
    NextChunk();
  }

  std::uint8_t Literal(int) const { return bytes_[k_]; }
  int Advance(int current) {
    ++k_;
    if (k_ == recorded_ && k_ < length_) NextChunk();
    replay_.RemovePosition((current + kLookAheadSize) & kPositionMask);
    return k_ + kLookAheadSize - 1 < length_ ? 1 : 0;
  }
  int Insert(int n, int& best_position) {
    if (n == kNoNode) return 0;
    return replay_.InsertPosition(n, records_[k_ - first_], best_position);
  }

 private:
  void NextChunk() {
    first_ = k_;
    recorded_ = std::min(k_ + kRecordChunk, length_);
    ThreadSortedNeighbours().Find(*strings_, first_, recorded_, scratch_);
    records_ = scratch_;
  }

  TreeReplay& replay_ = ThreadTreeReplay();
  const std::uint8_t* bytes_;
  const std::int64_t length_;
  const NeighbourRecord* records_;
  std::int64_t first_ = 0;  // the offset of records_[0]
  std::int64_t recorded_;
  std::int64_t k_ = 0;
  const StringBytes* strings_ = nullptr;
  NeighbourRecord* scratch_ = nullptr;
};

void Encode(RecordMatcher& matcher, std::int64_t length, BitFile& bits) {
  EncodeTokens(matcher, bits, static_cast<int>(std::min<std::int64_t>(length, kLookAheadSize)));
}

}  // namespace

void EncodeShortMembers(const ShortMember* members, std::size_t count,
                        std::vector<std::uint8_t>* const* streams) {
  std::vector<NeighbourRecord>& records = ThreadRecords();
  std::int64_t total = 0;
  for (std::size_t j = 0; j < count; ++j) total += members[j].length;
  records.resize(static_cast<std::size_t>(total));
  ThreadSortedNeighbours().FindMembers(members, count, records.data());
  const NeighbourRecord* next = records.data();
  for (std::size_t j = 0; j < count; ++j) {
    BitFile bits(*streams[j]);
    RecordMatcher matcher(members[j].bytes, members[j].length, next, members[j].length);
    Encode(matcher, members[j].length, bits);
    bits.Finish();
    next += members[j].length;
  }
}

void EncodeMemberInMemory(const ShortMember& member, BitFile& bits) {
  std::vector<NeighbourRecord>& records = ThreadRecords();
  if (member.length <= SortedNeighbours::kShortMemberLimit) {
    records.resize(static_cast<std::size_t>(member.length));
    ThreadSortedNeighbours().FindMembers(&member, 1, records.data());
    RecordMatcher matcher(member.bytes, member.length, records.data(), member.length);
    Encode(matcher, member.length, bits);
    return;
  }
  // Longer than the window: its strings read past its end into its own
  // bytes.
  records.resize(static_cast<std::size_t>(kRecordChunk));
  const StringBytes strings{member.bytes, 0, member.length};
  RecordMatcher matcher(member.bytes, member.length, records.data(), 0);
  matcher.FindAsNeeded(&strings, records.data());
  Encode(matcher, member.length, bits);
}

}  // namespace quiver
