#include "reuse_plan.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <numeric>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "archive_table.h"
#include "build_run.h"
#include "byte_stream.h"
#include "exit_paths.h"
#include "lzss_decoder.h"
#include "member_path.h"
#include "stream_length.h"
#include "thread_scratch.h"
#include "worker_pool.h"

namespace quiver {
namespace {

using Bytes = std::span<const std::uint8_t>;
using NamePair = std::pair<std::int32_t, std::int32_t>;  // (old record, new member)

// Old members are decoded, and new ones read, this many bytes at a time.
constexpr std::int64_t kSpan = kUpdateSpan;
// Old members go to the pool in batches of at most this many members or
// (unless one alone is longer) bytes.
constexpr std::size_t kBatchMembers = 256;
constexpr std::int64_t kBatchBytes = 256 << 10;

// The old archive's bytes behind a batch of members, read in one go when
// they are at most kHeldBytes; else each member's are read as it needs them.
constexpr std::int64_t kHeldBytes = 512 << 10;
struct HeldBytes {
  std::int64_t from = 0;
  std::span<const std::uint8_t> bytes;

  // The `length` bytes at `offset`; empty unless held.
  Bytes At(std::int64_t offset, std::int64_t length) const {
    if (offset < from || offset - from + length > static_cast<std::int64_t>(bytes.size()))
      return {};
    return bytes.subspan(static_cast<std::size_t>(offset - from), static_cast<std::size_t>(length));
  }
};

// Decodes an old stream a span at a time into `take`; true when it yields
// exactly its recorded length.
template <typename Take>
bool DecodeOld(const ReusePlan& plan, const OldStream& old, const HeldBytes& held, Take&& take) {
  const Bytes stream = held.At(old.offset, old.stream_length);
  MemorySource in_memory(stream);
  FileRangeSource from_file(plan.file, old.offset, stream.empty() ? old.stream_length : 0);
  ByteSource& source = stream.empty() ? static_cast<ByteSource&>(from_file) : in_memory;
  SpanDecoder& decoder = ThreadSpanDecoder();
  decoder.Start(source, old.length);
  SpanDecoder::Step step;
  do {
    step = decoder.Next();
    take(decoder.bytes());
  } while (step == SpanDecoder::Step::kGoOn);
  return step == SpanDecoder::Step::kEnded && decoder.produced() == old.length && !source.failed();
}

// Reads a member stored raw a span at a time into `take`; true when all
// its bytes were there.
template <typename Take>
bool ReadRaw(const ReusePlan& plan, const OldStream& old, const HeldBytes& held, Take&& take) {
  if (const Bytes bytes = held.At(old.offset, old.length); !bytes.empty()) {
    take(bytes);
    return true;
  }
  // Not the thread's buffers: one holds the batch, the other the member's.
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::min<std::int64_t>(old.length, kSpan)));
  for (std::int64_t done = 0; done < old.length;) {
    const auto size = static_cast<std::size_t>(std::min<std::int64_t>(old.length - done, kSpan));
    if (ReadFullAt(plan.file, buffer.data(), size, old.offset + done) !=
        static_cast<std::int64_t>(size))
      return false;
    take(Bytes(buffer.data(), size));
    done += static_cast<std::int64_t>(size);
  }
  return true;
}

// A new member's file, read alongside bytes it may equal.
class MemberComparer {
 public:
  explicit MemberComparer(std::int32_t member) : member_(member) {
    const StageEntry& stage = build_run.stage[member];
    file_ = OpenForReading(MapMemberPath(stage.source_path).c_str(), status_);
    equal_ = file_ != kNoFile && SameFileState(stage.measured, status_);
    remaining_ = stage.original_length;
  }
  ~MemberComparer() {
    if (file_ != kNoFile) CloseFile(file_);
  }
  MemberComparer(MemberComparer&& other) noexcept
      : member_(other.member_),
        file_(std::exchange(other.file_, kNoFile)),
        status_(other.status_),
        equal_(other.equal_),
        remaining_(other.remaining_) {}
  MemberComparer& operator=(MemberComparer&&) = delete;

  std::int32_t member() const { return member_; }
  void Take(Bytes bytes) {
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (!equal_ || size == 0) return;
    if (buffer_.size() < bytes.size()) buffer_.resize(bytes.size());
    remaining_ -= size;
    equal_ = remaining_ >= 0 && ReadFull(file_, buffer_.data(), bytes.size()) == size &&
             std::memcmp(buffer_.data(), bytes.data(), bytes.size()) == 0;
  }
  // After the last bytes: the file held no more (its size, as measured,
  // says so) and stayed as it was.
  bool Equal() const {
    FileStatus after;
    return equal_ && remaining_ == 0 && StatusOf(file_, after) && SameFileState(status_, after);
  }
  // The rest of the file, for a content key.
  template <typename Take>
  bool ReadAll(Take&& take) {
    if (buffer_.size() < static_cast<std::size_t>(kSpan))
      buffer_.resize(static_cast<std::size_t>(kSpan));
    for (;;) {
      const std::int64_t got = ReadFull(file_, buffer_.data(), kSpan);
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
  std::int64_t remaining_;  // of its measured length, not yet compared
  std::vector<std::uint8_t>& buffer_ = ThreadReadBuffer();
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
  // A member's bytes fill positions 1 to its length, or all of them.
  void Mark(std::int64_t length, bool state) {
    if (length >= kWindowSize)
      std::fill(std::begin(known), std::end(known), state);
    else
      std::fill(known + 1, known + 1 + length, state);
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

// What decoding one old member gave, for the window chain that runs
// through the old members in data order.
struct OldResult {
  bool decoded = false;  // to exactly its length; a raw one: its tail read
  bool keyed = false;    // no new member has its name: key holds its bytes' key
  std::uint64_t key = kKeyStart;
  std::size_t tail_at = 0;  // its last bytes (at most a window's) in the batch's tails
};

// A run of old members in data order, order[first, end), on the pool. Its
// buffers serve batch after batch.
struct OldBatch {
  std::size_t first = 0;
  std::size_t end = 0;
  std::vector<OldResult> results;
  std::vector<std::uint8_t> tails;
  std::vector<NamePair> equal;  // (old record, new member) found to hold the same bytes
  std::vector<MemberComparer> files;
  std::unique_ptr<PoolTask> task;
};

// Appends to `tails` the last bytes (at most a window's) of a member of
// `length` bytes, of which `bytes` come next, from offset `done` on.
void KeepTail(std::vector<std::uint8_t>& tails, std::int64_t length, std::int64_t& done,
              Bytes bytes) {
  const auto size = static_cast<std::int64_t>(bytes.size());
  const std::int64_t skipped = std::clamp<std::int64_t>(length - kWindowSize - done, 0, size);
  tails.insert(tails.end(), bytes.begin() + skipped, bytes.end());
  done += size;
}

// A member stored raw has no stream to reuse, but its bytes still moved
// the window.
bool ReadRawTail(const ReusePlan& plan, const OldStream& old, const HeldBytes& held,
                 std::vector<std::uint8_t>& tails) {
  const std::int64_t size = std::min<std::int64_t>(old.length, kWindowSize);
  const std::int64_t at = old.offset + old.length - size;
  if (const Bytes bytes = held.At(at, size); !bytes.empty() || size == 0) {
    tails.insert(tails.end(), bytes.begin(), bytes.end());
    return true;
  }
  const std::size_t start = tails.size();
  tails.resize(start + static_cast<std::size_t>(size));
  return ReadFullAt(plan.file, tails.data() + start, static_cast<std::size_t>(size), at) == size;
}

// Decodes old member `j`, comparing it with the new members named as it
// was (`named`, (old, new) pairs) and keying it when no new member is.
void DecodeAndCompare(const ReusePlan& plan, std::int32_t j, std::span<const NamePair> named,
                      const HeldBytes& held, OldBatch& batch, OldResult& result) {
  const OldStream& old = plan.old[static_cast<std::size_t>(j)];
  result.tail_at = batch.tails.size();
  const bool raw = old.stream_length == 0;
  if (raw && named.empty()) {
    result.decoded = ReadRawTail(plan, old, held, batch.tails);
    return;
  }
  batch.files.clear();
  for (const NamePair& pair : named) batch.files.emplace_back(pair.second);
  result.keyed = named.empty();
  std::int64_t done = 0;
  const auto take = [&](Bytes bytes) {
    for (MemberComparer& file : batch.files) file.Take(bytes);
    if (result.keyed) result.key = ContentKey(result.key, bytes);
    KeepTail(batch.tails, old.length, done, bytes);
  };
  result.decoded = raw ? ReadRaw(plan, old, held, take) : DecodeOld(plan, old, held, take);
  if (result.decoded)
    for (const MemberComparer& file : batch.files)
      if (file.Equal()) batch.equal.emplace_back(j, file.member());
  batch.files.clear();
}

// Decodes and compares the batch's old members.
void PlanBatch(const ReusePlan& plan, const std::vector<std::int32_t>& order,
               const std::vector<NamePair>& pairs, OldBatch& batch) {
  const OldStream& low = plan.old[static_cast<std::size_t>(order[batch.first])];
  const OldStream& high = plan.old[static_cast<std::size_t>(order[batch.end - 1])];
  HeldBytes held{low.offset, {}};
  const std::int64_t size = high.offset + StoredSize(high) - low.offset;
  if (size <= kHeldBytes) {
    std::vector<std::uint8_t>& buffer = ThreadStreamBuffer();
    if (buffer.size() < static_cast<std::size_t>(size))
      buffer.resize(static_cast<std::size_t>(size));
    if (ReadFullAt(plan.file, buffer.data(), static_cast<std::size_t>(size), low.offset) == size)
      held.bytes = Bytes(buffer.data(), static_cast<std::size_t>(size));
  }
  for (std::size_t k = batch.first; k < batch.end; ++k) {
    const std::int32_t j = order[k];
    const auto [from, to] =
        std::equal_range(pairs.begin(), pairs.end(), NamePair(j, 0),
                         [](const NamePair& a, const NamePair& b) { return a.first < b.first; });
    DecodeAndCompare(plan, j, std::span<const NamePair>(from, to), held, batch,
                     batch.results[k - batch.first]);
  }
}

// Opens the old archive; false unless it is sound and has streams.
bool OpenOldArchive(ReusePlan& plan, ArchiveTable& table) {
  plan.file = OpenForReading(build_run.archive_target, plan.status);
  if (plan.file == kNoFile) return false;
  const ArchiveBytes bytes{plan.file, {}, nullptr, plan.status.size};
  if (LoadArchiveTable(bytes, table).empty() && table.header.compressed != 0) return true;
  CloseFile(plan.file);
  plan.file = kNoFile;
  return false;
}

// The old records by name, in table order: those with a stream or, under
// -s, any.
using OldNames = std::unordered_map<std::string_view, std::vector<std::int32_t>>;
OldNames NamesOf(const ArchiveTable& table) {
  OldNames by_name;
  for (std::size_t j = 0; j < table.entries.size(); ++j)
    if (table.entries[j].compressed_length != 0 || build_run.smallest)
      by_name[table.entries[j].name].push_back(static_cast<std::int32_t>(j));
  return by_name;
}

// Pairs of (old record, new member) with the same name and length: the
// first such old record for each new member.
std::vector<NamePair> SameNames(const ArchiveTable& table, const OldNames& by_name) {
  std::vector<NamePair> pairs;
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

// The window bytes that members after each new member read from what it
// left there (their contexts, WindowBytesRead), before a later member
// overwrites them. A member fills positions 1 to its length, or all of
// them, so the last to fill a position is found on a stack of members
// whose reach (the highest position they fill, 4096 for all) falls from
// bottom to top.
void FindWindowReads(ReusePlan& plan) {
  const auto count = static_cast<std::size_t>(build_run.count);
  // Calls `read(writer, position)` for each read, in the readers' order.
  const auto each_read = [](auto&& read) {
    std::vector<std::pair<std::int64_t, std::int32_t>> stack;  // (reach, member)
    for (std::int32_t i = 0; i < build_run.count; ++i) {
      const std::int64_t length = build_run.stage[i].original_length;
      for (int k = 0; k < WindowBytesRead(length); ++k) {
        const int position = PositionOfOffset(length + k);
        const std::int64_t reach = position == 0 ? kWindowSize : position;
        const auto filled = std::partition_point(
            stack.begin(), stack.end(), [&](const auto& entry) { return entry.first >= reach; });
        if (filled != stack.begin()) read(std::prev(filled)->second, position);
      }
      const std::int64_t reach = std::min<std::int64_t>(length, kWindowSize);
      while (!stack.empty() && stack.back().first <= reach) stack.pop_back();
      stack.emplace_back(reach, i);
    }
  };
  // Counted, then filed by writer; a position two readers read from one
  // writer is filed twice, which costs less than finding it.
  plan.read_first.assign(count + 1, 0);
  each_read(
      [&](std::int32_t writer, int) { ++plan.read_first[static_cast<std::size_t>(writer) + 1]; });
  for (std::size_t i = 0; i < count; ++i) plan.read_first[i + 1] += plan.read_first[i];
  plan.read_positions.resize(static_cast<std::size_t>(plan.read_first[count]));
  plan.read_bytes.assign(plan.read_positions.size(), 0);
  std::vector<std::int64_t> next(plan.read_first.begin(), plan.read_first.end() - 1);
  each_read([&](std::int32_t writer, int position) {
    plan.read_positions[static_cast<std::size_t>(next[static_cast<std::size_t>(writer)]++)] =
        static_cast<std::uint16_t>(position);
  });
}

// Old record `j` serves new member `i`, whose last bytes (at most a
// window's) are `tail`: it leaves those that later members read.
void TakeSource(ReusePlan& plan, std::int32_t i, std::int32_t j, const std::uint8_t* tail) {
  plan.source[i] = j;
  const std::int64_t length = build_run.stage[i].original_length;
  const std::int64_t first = length - std::min<std::int64_t>(length, kWindowSize);
  const int first_position = PositionOfOffset(first);
  for (std::int64_t r = plan.read_first[i]; r < plan.read_first[i + 1]; ++r)
    plan.read_bytes[r] = tail[(plan.read_positions[r] - first_position) & kPositionMask];
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
      std::vector<std::uint8_t> tail;
      std::int64_t done = 0;
      if (DecodeOld(plan, old, HeldBytes{},
                    [&](Bytes bytes) {
                      file.Take(bytes);
                      KeepTail(tail, old.length, done, bytes);
                    }) &&
          file.Equal()) {
        TakeSource(plan, i, it->second, tail.data());
        break;
      }
    }
  }
}

}  // namespace

// The decoding under way: the old members in data order, in batches on the
// pool, their results taken in that order as the build needs them.
struct ReuseProgress {
  explicit ReuseProgress(WorkerPool& worker_pool) : pool(worker_pool) {}

  WorkerPool& pool;
  // Loading the old archive's table while the members are measured.
  std::unique_ptr<PoolTask> load;
  ArchiveTable table;
  OldNames by_name;
  std::vector<std::int32_t> order;  // the old records in data order
  std::vector<std::size_t> rank;    // of each old record in `order`
  std::vector<NamePair> pairs;
  std::vector<std::int32_t> named;  // for each new member, the old record of its name, or -1
  // The lengths of old members no new member is named as: only a member of
  // one of these may find its source by its bytes, once all are decoded.
  std::unordered_set<std::int64_t> keyed_lengths;
  std::vector<OldBatch> batches;
  std::size_t next = 0;       // in `order`, the first not yet in a batch
  std::size_t submitted = 0;  // batches
  std::size_t taken = 0;      // batches whose results were taken
  std::size_t decided = 0;    // in `order`, the first whose results were not taken
  OldWindow window;
  std::unordered_multimap<std::uint64_t, std::int32_t> moved;
};

namespace {

void SubmitBatch(ReusePlan& plan) {
  ReuseProgress& progress = *plan.progress;
  const std::vector<std::int32_t>& order = progress.order;
  OldBatch& batch = progress.batches[progress.submitted++ % progress.batches.size()];
  batch.first = progress.next;
  std::size_t& next = progress.next;
  for (std::int64_t bytes = 0;
       next < order.size() && next - batch.first < kBatchMembers && bytes < kBatchBytes; ++next)
    bytes += plan.old[order[next]].length;
  batch.end = next;
  batch.results.assign(batch.end - batch.first, {});
  batch.tails.clear();
  batch.equal.clear();
  batch.task = std::make_unique<PoolTask>(
      [&plan, &order, &pairs = progress.pairs, &batch] { PlanBatch(plan, order, pairs, batch); });
  progress.pool.Submit(*batch.task);
}

// Waits for the next batch and carries the window through its results.
void TakeBatch(ReusePlan& plan) {
  ReuseProgress& progress = *plan.progress;
  while (progress.next < progress.order.size() &&
         progress.submitted - progress.taken < progress.batches.size())
    SubmitBatch(plan);
  OldBatch& batch = progress.batches[progress.taken++ % progress.batches.size()];
  // Running batches use what unwinding would free: no return from here.
  try {
    progress.pool.Wait(*batch.task);
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
  OldWindow& window = progress.window;
  auto equal = batch.equal.begin();
  for (std::size_t k = batch.first; k < batch.end; ++k) {
    const std::int32_t j = progress.order[k];
    OldStream& old = plan.old[j];
    const OldResult& result = batch.results[k - batch.first];
    const std::uint8_t* tail = batch.tails.data() + result.tail_at;
    const auto tail_size =
        static_cast<std::size_t>(std::min<std::int64_t>(old.length, kWindowSize));
    const bool context_known = window.Context(old.length, old.context);
    if (result.decoded) window.Take(Bytes(tail, tail_size), old.length);
    window.Mark(old.length, result.decoded);
    // A raw one's bytes serve -s whatever its context: their stream's
    // length is found again from the new one.
    old.usable = result.decoded && (old.stream_length == 0 ? build_run.smallest : context_known);
    if (old.usable && result.keyed) progress.moved.emplace(result.key, j);
    for (; equal != batch.equal.end() && equal->first == j; ++equal)
      if (old.usable) TakeSource(plan, equal->second, j, tail);
  }
  progress.decided = batch.end;
}

// Takes every batch, then looks for members that moved.
void FinishPlan(ReusePlan& plan) {
  if (!plan.progress) return;
  while (plan.progress->decided < plan.progress->order.size()) TakeBatch(plan);
  FindMoved(plan, plan.progress->moved);
  plan.progress.reset();
}

}  // namespace

ReusePlan::ReusePlan() = default;
ReusePlan::~ReusePlan() = default;

namespace {

// Opens the old archive and loads its table: its members, in data order.
void LoadOldArchive(ReusePlan& plan) {
  ReuseProgress& progress = *plan.progress;
  if (!OpenOldArchive(plan, progress.table)) return;
  progress.by_name = NamesOf(progress.table);
  const std::size_t count = progress.table.entries.size();
  plan.old.resize(count);
  for (std::size_t j = 0; j < count; ++j) {
    const TocEntry& entry = progress.table.entries[j];
    plan.old[j] = {entry.data_offset, entry.compressed_length, entry.original_length, false, {}};
  }
  // The old coder went through the members in data order, each from the
  // window the ones before it left.
  progress.order.resize(count);
  std::iota(progress.order.begin(), progress.order.end(), 0);
  std::stable_sort(
      progress.order.begin(), progress.order.end(),
      [&](std::int32_t a, std::int32_t b) { return plan.old[a].offset < plan.old[b].offset; });
  progress.rank.resize(count);
  for (std::size_t k = 0; k < count; ++k)
    progress.rank[static_cast<std::size_t>(progress.order[k])] = k;
}

}  // namespace

void StartLoadingOldArchive(ReusePlan& plan, WorkerPool& pool) {
  if (!build_run.update) return;
  plan.progress = std::make_unique<ReuseProgress>(pool);
  plan.progress->load = std::make_unique<PoolTask>([&plan] { LoadOldArchive(plan); });
  pool.Submit(*plan.progress->load);
}

void AwaitOldArchive(ReusePlan& plan) {
  if (!plan.progress || !plan.progress->load) return;
  plan.progress->pool.Wait(*plan.progress->load);
  plan.progress->load.reset();
}

void StartReusePlan(ReusePlan& plan) {
  plan.source.assign(static_cast<std::size_t>(build_run.count), -1);
  plan.stored_raw.assign(static_cast<std::size_t>(build_run.count), false);
  AwaitOldArchive(plan);
  if (plan.file == kNoFile) {
    plan.progress.reset();
    return;
  }
  FindWindowReads(plan);
  ReuseProgress& progress = *plan.progress;
  const std::size_t count = plan.old.size();
  progress.pairs = SameNames(progress.table, progress.by_name);
  progress.by_name = {};
  progress.table = {};
  progress.named.assign(static_cast<std::size_t>(build_run.count), -1);
  std::vector<bool> named(count, false);
  for (const auto& [j, i] : progress.pairs) {
    progress.named[static_cast<std::size_t>(i)] = j;
    named[static_cast<std::size_t>(j)] = true;
    plan.stored_raw[static_cast<std::size_t>(i)] =
        plan.old[static_cast<std::size_t>(j)].stream_length == 0;
  }
  for (std::size_t j = 0; j < count; ++j)
    if (!named[j] && plan.old[j].stream_length != 0)
      progress.keyed_lengths.insert(plan.old[j].length);

  // The old members are decoded and compared side by side, in batches, and
  // the window is carried through their results in data order.
  progress.batches.resize(2 * static_cast<std::size_t>(progress.pool.threads()));
  // A batch's tails hold fewer bytes than its members but the last, of
  // which they keep a window (a batch ends once it passes kBatchBytes).
  // Room made once spares memory touched anew each time they would grow.
  for (OldBatch& batch : progress.batches) batch.tails.reserve(kBatchBytes + kWindowSize);
  while (progress.next < count && progress.submitted < progress.batches.size()) SubmitBatch(plan);
}

void AwaitSource(ReusePlan& plan, std::int32_t i) {
  if (!plan.progress) return;
  ReuseProgress& progress = *plan.progress;
  const std::int32_t j = progress.named[static_cast<std::size_t>(i)];
  if (j >= 0)
    while (progress.decided <= progress.rank[static_cast<std::size_t>(j)]) TakeBatch(plan);
  // Not found by its name: it may yet be found by its bytes, once every
  // old member is decoded.
  if (plan.source[i] < 0 && progress.keyed_lengths.contains(build_run.stage[i].original_length))
    FinishPlan(plan);
}

std::int32_t ReusableSource(const ReusePlan& plan, std::int32_t i, const EncoderWindow& window) {
  const std::int32_t j = plan.source[i];
  if (j < 0) return -1;
  const OldStream& old = plan.old[j];
  // A raw one's bytes are measured again from the member's own context,
  // held whole in memory.
  if (old.stream_length == 0) return old.length <= kMeasuredAtMost ? j : -1;
  for (int k = 0; k < WindowBytesRead(old.length); ++k)
    if (window.bytes[PositionOfOffset(old.length + k)] != old.context[k]) return -1;
  return j;
}

void LeaveReadBytes(const ReusePlan& plan, std::int32_t i, EncoderWindow& window) {
  for (std::int64_t r = plan.read_first[i]; r < plan.read_first[i + 1]; ++r)
    window.bytes[plan.read_positions[r]] = plan.read_bytes[r];
}

void FinishReuse(ReusePlan& plan) {
  FinishPlan(plan);
  build_run.old_archive = std::exchange(plan.file, kNoFile);
  build_run.old_status = plan.status;
}

}  // namespace quiver
