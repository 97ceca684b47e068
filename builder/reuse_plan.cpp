#include "reuse_plan.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <numeric>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "archive_table.h"
#include "build_run.h"
#include "byte_stream.h"
#include "lzss_decoder.h"
#include "member_path.h"

namespace quiver {
namespace {

using Bytes = std::span<const std::uint8_t>;

// Old members are decoded, and new ones read, this many bytes at a time.
constexpr std::int64_t kSpan = 64 << 10;

// Decodes an old stream a span at a time into `take`; true when it yields
// exactly its recorded length.
template <typename Take>
bool DecodeOld(const ReusePlan& plan, const OldStream& old, Take&& take) {
  FileRangeSource source(plan.file, old.offset, old.stream_length);
  SpanDecoder decoder(old.length, kSpan);
  decoder.Start(source);
  SpanDecoder::Step step;
  do {
    step = decoder.Next();
    take(decoder.bytes());
  } while (step == SpanDecoder::Step::kGoOn);
  return step == SpanDecoder::Step::kEnded && decoder.produced() == old.length && !source.failed();
}

// A new member's file, read alongside bytes it may equal.
class MemberComparer {
 public:
  explicit MemberComparer(std::int32_t member) : member_(member) {
    const StageEntry& stage = build_run.stage[member];
    file_ = OpenForReading(MapMemberPath(stage.source_path).c_str(), status_);
    equal_ = file_ != kNoFile && SameFileState(stage.measured, status_);
  }
  ~MemberComparer() {
    if (file_ != kNoFile) CloseFile(file_);
  }
  MemberComparer(const MemberComparer&) = delete;
  MemberComparer& operator=(const MemberComparer&) = delete;

  std::int32_t member() const { return member_; }
  void Take(Bytes bytes) {
    if (!equal_ || bytes.empty()) return;
    buffer_.resize(bytes.size());
    equal_ =
        ReadFull(file_, buffer_.data(), bytes.size()) == static_cast<std::int64_t>(bytes.size()) &&
        std::memcmp(buffer_.data(), bytes.data(), bytes.size()) == 0;
  }
  // After the last bytes: the file ended there and stayed as measured.
  bool Equal() {
    std::uint8_t more;
    FileStatus after;
    return equal_ && ReadFull(file_, &more, 1) == 0 && StatusOf(file_, after) &&
           SameFileState(status_, after);
  }
  // The rest of the file, for a content key.
  template <typename Take>
  bool ReadAll(Take&& take) {
    buffer_.resize(kSpan);
    for (;;) {
      const std::int64_t got = ReadFull(file_, buffer_.data(), buffer_.size());
      if (got < 0) return false;
      take(Bytes(buffer_.data(), static_cast<std::size_t>(got)));
      if (got < kSpan) return true;
    }
  }

 private:
  std::int32_t member_;
  FileHandle file_;
  FileStatus status_;
  bool equal_;
  std::vector<std::uint8_t> buffer_;
};

// A content key for members that moved: a filter only, as equal keys are
// confirmed byte for byte.
std::uint64_t ContentKey(std::uint64_t key, Bytes bytes) {
  for (const std::uint8_t byte : bytes) key = (key ^ byte) * 0x100000001B3ull;
  return key;
}
constexpr std::uint64_t kKeyStart = 0xCBF29CE484222325ull;

// The window the old members left, as its coder saw it, with which of its
// bytes are known: those of a member that did not decode are not.
struct OldWindow {
  EncoderWindow window;
  bool known[kWindowSize];

  OldWindow() { std::fill(std::begin(known), std::end(known), true); }
  // Takes `bytes`, which end at member offset `end`.
  void Take(Bytes bytes, std::int64_t end) {
    const std::size_t tail = std::min<std::size_t>(bytes.size(), kWindowSize);
    AdvanceWindow(window, bytes.data() + bytes.size() - tail, tail, end);
  }
  void Mark(std::int64_t length, bool state) {
    for (std::int64_t offset = std::max<std::int64_t>(0, length - kWindowSize); offset < length;
         ++offset)
      known[PositionOfOffset(offset)] = state;
  }
  // Records the bytes a member of `length` bytes reads past its end; false
  // when some are unknown.
  bool Context(std::int64_t length, std::uint8_t* context) const {
    bool all_known = true;
    for (int k = 0; k < WindowBytesRead(length); ++k) {
      const int position = PositionOfOffset(length + k);
      context[k] = window.bytes[position];
      all_known = all_known && known[position];
    }
    return all_known;
  }
};

// A member stored raw has no stream to reuse, but its bytes still moved
// the window.
bool TakeRawTail(const ReusePlan& plan, const OldStream& old, OldWindow& window) {
  const std::int64_t tail = std::min<std::int64_t>(old.length, kWindowSize);
  std::uint8_t bytes[kWindowSize];
  if (ReadFullAt(plan.file, bytes, static_cast<std::size_t>(tail),
                 old.offset + old.length - tail) != tail)
    return false;
  window.Take(Bytes(bytes, static_cast<std::size_t>(tail)), old.length);
  return true;
}

// Opens the old archive; false unless it is sound and has streams.
bool OpenOldArchive(ReusePlan& plan, ArchiveTable& table) {
  plan.file = OpenForReading(build_run.archive_target, plan.status);
  if (plan.file == kNoFile) return false;
  const ArchiveBytes bytes{plan.file, {}, nullptr, plan.status.size};
  if (LoadArchiveTable(bytes, table).empty() && table.header.compressed != 0) return true;
  CloseOldArchive(plan);
  return false;
}

// Pairs of (old record, new member) with the same name and length: the
// first such old record for each new member.
std::vector<std::pair<std::int32_t, std::int32_t>> SameNames(const ArchiveTable& table) {
  std::unordered_map<std::string_view, std::vector<std::int32_t>> by_name;
  for (std::size_t j = 0; j < table.entries.size(); ++j)
    if (table.entries[j].compressed_length != 0)
      by_name[table.entries[j].name].push_back(static_cast<std::int32_t>(j));
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  for (std::int32_t i = 0; i < build_run.count; ++i) {
    const auto found = by_name.find(build_run.stage[i].source_path);
    if (found == by_name.end()) continue;
    for (const std::int32_t j : found->second)
      if (table.entries[j].original_length == build_run.stage[i].original_length) {
        pairs.emplace_back(j, i);
        break;
      }
  }
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

// Members that moved or were renamed: a new member with no source yet takes
// an old stream, not claimed by its name, whose bytes equal its own.
void FindMoved(ReusePlan& plan, const std::unordered_multimap<std::uint64_t, std::int32_t>& moved) {
  std::unordered_set<std::int32_t> lengths;
  for (const auto& [key, j] : moved) lengths.insert(plan.old[j].length);
  for (std::int32_t i = 0; i < build_run.count && !moved.empty(); ++i) {
    const std::int32_t length = build_run.stage[i].original_length;
    if (plan.source[i] >= 0 || !lengths.contains(length)) continue;
    std::uint64_t key = kKeyStart;
    {
      MemberComparer file(i);
      if (!file.ReadAll([&](Bytes bytes) { key = ContentKey(key, bytes); })) continue;
    }
    const auto [first, last] = moved.equal_range(key);
    for (auto it = first; it != last; ++it) {
      const OldStream& old = plan.old[it->second];
      if (old.length != length) continue;
      MemberComparer file(i);
      if (DecodeOld(plan, old, [&](Bytes bytes) { file.Take(bytes); }) && file.Equal()) {
        plan.source[i] = it->second;
        break;
      }
    }
  }
}

}  // namespace

void PlanReuse(ReusePlan& plan) {
  plan.source.assign(static_cast<std::size_t>(build_run.count), -1);
  ArchiveTable table;
  if (!build_run.update || !OpenOldArchive(plan, table)) return;
  const std::size_t count = table.entries.size();
  plan.old.resize(count);
  for (std::size_t j = 0; j < count; ++j) {
    const TocEntry& entry = table.entries[j];
    plan.old[j] = {entry.data_offset, entry.compressed_length, entry.original_length, false, {}};
  }
  const auto pairs = SameNames(table);
  std::vector<bool> named(count, false);
  for (const auto& pair : pairs) named[static_cast<std::size_t>(pair.first)] = true;

  // The old coder went through the members in data order, each from the
  // window the ones before it left.
  std::vector<std::int32_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
    return plan.old[a].offset < plan.old[b].offset;
  });
  OldWindow window;
  std::unordered_multimap<std::uint64_t, std::int32_t> moved;
  for (const std::int32_t j : order) {
    OldStream& old = plan.old[j];
    const bool context_known = window.Context(old.length, old.context);
    if (old.stream_length == 0) {
      window.Mark(old.length, TakeRawTail(plan, old, window));
      continue;
    }
    std::deque<MemberComparer> files;
    for (auto next_pair = std::lower_bound(pairs.begin(), pairs.end(), std::make_pair(j, -1));
         next_pair != pairs.end() && next_pair->first == j; ++next_pair)
      files.emplace_back(next_pair->second);
    const bool keyed = !named[static_cast<std::size_t>(j)];
    std::uint64_t key = kKeyStart;
    std::int64_t produced = 0;
    const bool decoded = DecodeOld(plan, old, [&](Bytes bytes) {
      for (MemberComparer& file : files) file.Take(bytes);
      if (keyed) key = ContentKey(key, bytes);
      produced += static_cast<std::int64_t>(bytes.size());
      window.Take(bytes, produced);
    });
    window.Mark(old.length, decoded);
    old.usable = decoded && context_known;
    if (!old.usable) continue;
    for (MemberComparer& file : files)
      if (file.Equal()) plan.source[file.member()] = j;
    if (keyed) moved.emplace(key, j);
  }
  FindMoved(plan, moved);
}

std::int32_t ReusableSource(const ReusePlan& plan, std::int32_t i, const EncoderWindow& window) {
  const std::int32_t j = plan.source[i];
  if (j < 0) return -1;
  const OldStream& old = plan.old[j];
  for (int k = 0; k < WindowBytesRead(old.length); ++k)
    if (window.bytes[PositionOfOffset(old.length + k)] != old.context[k]) return -1;
  return j;
}

bool OldArchiveUnchanged(const ReusePlan& plan) {
  FileStatus now;
  return plan.file != kNoFile && StatusOf(plan.file, now) && SameFileState(plan.status, now);
}

void CloseOldArchive(ReusePlan& plan) {
  if (plan.file != kNoFile) CloseFile(plan.file);
  plan.file = kNoFile;
}

}  // namespace quiver
