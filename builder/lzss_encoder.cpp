#include "lzss_encoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "bit_file.h"

namespace quiver {
namespace {

constexpr int kLower = 0;
constexpr int kHigher = 1;

// A node's links, and the first 8 bytes of its string, big-endian, so that
// most steps of a search compare one number; a node's string does not change
// while it is in the tree. Its parent link is kept apart, in tree_parent,
// since a search never needs it.
struct TreeNode {
  std::uint64_t head;
  std::int32_t child[2];  // kLower, kHigher
};

std::uint64_t LoadBigEndian(const std::uint8_t* p) {
  std::uint64_t x;
  std::memcpy(&x, p, 8);
  return __builtin_bswap64(x);
}

// Common prefix of two 17-byte strings from `known` on, a length they are
// already known to share; sets `greater` when the first is the greater.
int CompareTail(const std::uint8_t* a, const std::uint8_t* b, int known, bool& greater) {
  for (int i = known; i < kLookAheadSize; i += 8) {
    std::uint64_t x = LoadBigEndian(a + i);
    std::uint64_t y = LoadBigEndian(b + i);
    if (x != y) {
      int length = i + __builtin_clzll(x ^ y) / 8;
      if (length >= kLookAheadSize) break;
      greater = x > y;
      return length;
    }
  }
  return kLookAheadSize;
}

// The member's bytes, read in blocks.
class SourceReader {
 public:
  explicit SourceReader(int fd) : fd_(fd) {}
  // Next byte, or -1 at the end of the data.
  int Next() {
    if (next_ == end_ && !Refill()) return -1;
    ++total_;
    return buffer_[next_++];
  }
  bool failed() const { return failed_; }
  std::int64_t total() const { return total_; }

 private:
  bool Refill() {
    if (failed_) return false;
    ssize_t n;
    do {
      n = ::read(fd_, buffer_, sizeof buffer_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) failed_ = true;
    if (n <= 0) return false;
    next_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
  }

  int fd_;
  bool failed_ = false;
  std::int64_t total_ = 0;
  std::size_t next_ = 0;
  std::size_t end_ = 0;
  std::uint8_t buffer_[1 << 16];
};

int OpenSource(const char* path) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The coder's whole state. One lives for the whole run, so the window
// carries over from member to member; members compressed side by side take
// one each, seeded with the window the members before them leave.
struct EncoderState {
  void SetWindow(const EncoderWindow& start) {
    std::memcpy(window, start.bytes, kWindowSize);
    std::memcpy(window + kWindowSize, start.bytes, kLookAheadSize);
  }

  // The first 17 bytes stand again past the end, so a 17-byte string that
  // crosses position 4095 reads straight on without masking; the slack behind
  // them lets a comparison load 8 bytes at any offset up to 16.
  std::uint8_t window[kWindowSize + 32];
  TreeNode MatchTree[kWindowSize + 1];
  std::int32_t tree_parent[kWindowSize + 1];

  void StoreByte(int position, std::uint8_t byte) {
    window[position] = byte;
    if (position < kLookAheadSize) window[kWindowSize + position] = byte;
  }

  void ResetTree(int r) {
    std::memset(MatchTree, 0, sizeof MatchTree);
    std::memset(tree_parent, 0, sizeof tree_parent);
    MatchTree[kRootAnchor].child[kHigher] = r;
    tree_parent[r] = kRootAnchor;
    MatchTree[r] = {LoadBigEndian(window + r), {kNoNode, kNoNode}};
  }

  void SetParent(int child, int parent) {
    if (child != kNoNode) tree_parent[child] = parent;
  }

  void SpliceNode(int old_node, int new_node) {
    SetParent(new_node, tree_parent[old_node]);
    TreeNode& p = MatchTree[tree_parent[old_node]];
    if (p.child[kHigher] == old_node)
      p.child[kHigher] = new_node;
    else
      p.child[kLower] = new_node;
    tree_parent[old_node] = kNoNode;
  }

  // Only called with two nodes of equal strings, or with a predecessor that
  // takes the place of its subtree's root, whose head it then carries itself.
  void SubstituteNode(int old_node, int new_node) {
    TreeNode& p = MatchTree[tree_parent[old_node]];
    if (p.child[kLower] == old_node)
      p.child[kLower] = new_node;
    else
      p.child[kHigher] = new_node;
    tree_parent[new_node] = tree_parent[old_node];
    MatchTree[new_node].child[kLower] = MatchTree[old_node].child[kLower];
    MatchTree[new_node].child[kHigher] = MatchTree[old_node].child[kHigher];
    SetParent(MatchTree[new_node].child[kLower], new_node);
    SetParent(MatchTree[new_node].child[kHigher], new_node);
    tree_parent[old_node] = kNoNode;
  }

  int Predecessor(int node) {
    int child = MatchTree[node].child[kLower];
    while (MatchTree[child].child[kHigher] != kNoNode) child = MatchTree[child].child[kHigher];
    return child;
  }

  void RemovePosition(int p) {
    if (tree_parent[p] == kNoNode) return;
    const TreeNode& node = MatchTree[p];
    if (node.child[kHigher] == kNoNode) {
      SpliceNode(p, node.child[kLower]);
    } else if (node.child[kLower] == kNoNode) {
      SpliceNode(p, node.child[kHigher]);
    } else {
      int r = Predecessor(p);
      RemovePosition(r);
      SubstituteNode(p, r);
    }
  }

  int InsertPosition(int n, int& best_position) {
    if (n == 0) return 0;
    const std::uint8_t* key = window + n;
    const std::uint64_t key_head = LoadBigEndian(key);
    int t = MatchTree[kRootAnchor].child[kHigher];
    int best_length = 0;
    // Every node below the last turns shares with n the shorter of the prefixes
    // n shares with the last nodes it passed on either side.
    int lower_prefix = 0;
    int higher_prefix = 0;
    for (;;) {
      const TreeNode& node = MatchTree[t];
      const std::int32_t lower = node.child[kLower];
      const std::int32_t higher = node.child[kHigher];
      int length;
      bool greater = false;
      if (node.head != key_head) {
        length = __builtin_clzll(node.head ^ key_head) / 8;
        greater = key_head > node.head;
      } else {
        int known = lower_prefix < higher_prefix ? lower_prefix : higher_prefix;
        length = CompareTail(key, window + t, known > 8 ? known : 8, greater);
      }
      if (length >= best_length) {
        best_length = length;
        best_position = t;
        if (length == kLookAheadSize) {
          SubstituteNode(t, n);
          MatchTree[n].head = key_head;
          return kLookAheadSize;
        }
      }
      // Chosen without a branch: the direction is as good as random.
      const std::int32_t side = -static_cast<std::int32_t>(greater);
      const std::int32_t next = lower ^ ((lower ^ higher) & side);
      higher_prefix = (length & side) | (higher_prefix & ~side);
      lower_prefix = (lower_prefix & side) | (length & ~side);
      if (next == kNoNode) {
        MatchTree[t].child[greater ? kHigher : kLower] = n;
        tree_parent[n] = t;
        MatchTree[n] = {key_head, {kNoNode, kNoNode}};
        return best_length;
      }
      t = next;
    }
  }

  void Encode(SourceReader& source, BitFile& bits) {
    int current = 1;
    int best_length = 0;
    int best_position = 0;
    int look_ahead = 0;
    while (look_ahead < kLookAheadSize) {
      int c = source.Next();
      if (c < 0) break;
      StoreByte(current + look_ahead, static_cast<std::uint8_t>(c));
      ++look_ahead;
    }
    ResetTree(current);
    while (look_ahead > 0) {
      if (best_length > look_ahead) best_length = look_ahead;
      int steps;
      if (best_length <= 1) {
        bits.OutputBit(1);
        bits.OutputBits(window[current], 8);
        steps = 1;
      } else {
        bits.OutputBit(0);
        bits.OutputBits(static_cast<std::uint32_t>(best_position), 12);
        bits.OutputBits(static_cast<std::uint32_t>(best_length - kMinMatchLength), 4);
        steps = best_length;
      }
      for (int i = 0; i < steps; ++i) {
        int incoming = (current + kLookAheadSize) & kPositionMask;
        RemovePosition(incoming);
        int c = source.Next();
        if (c < 0)
          --look_ahead;
        else
          StoreByte(incoming, static_cast<std::uint8_t>(c));
        current = (current + 1) & kPositionMask;
        if (look_ahead != 0) best_length = InsertPosition(current, best_position);
      }
    }
    bits.OutputBit(0);
    bits.OutputBits(0, 12);
  }
};

EncoderState process_state;

CompressOutcome Compress(EncoderState& state, const char* source_path, const char* temp_path,
                         std::int64_t expected_length, bool report_failures) {
  int fd = OpenSource(source_path);
  if (fd < 0) return {CompressStatus::kSourceUnreadable, 0, {}};
  auto source = std::make_unique<SourceReader>(fd);
  auto bits = std::make_unique<BitFile>(temp_path, report_failures);
  if (bits->failure().empty()) state.Encode(*source, *bits);
  bits->Finish();
  ::close(fd);
  if (!bits->failure().empty()) return {CompressStatus::kWriteFailed, 0, bits->failure()};
  if (source->failed()) return {CompressStatus::kSourceUnreadable, 0, {}};
  if (expected_length >= 0 && source->total() != expected_length)
    return {CompressStatus::kSourceChanged, 0, {}};
  int temp = ::open(temp_path, O_RDONLY | O_CLOEXEC);
  if (temp < 0) return {CompressStatus::kTempUnreadable, 0, {}};
  struct stat st;
  bool measured = ::fstat(temp, &st) == 0;
  ::close(temp);
  if (!measured || st.st_size > 0x7FFFFFFF) return {CompressStatus::kTempUnreadable, 0, {}};
  return {CompressStatus::kOk, static_cast<std::int32_t>(st.st_size), {}};
}

}  // namespace

void ResetEncoderWindow() {
  process_state.SetWindow(EncoderWindow{});
}

CompressOutcome CompressMember(const char* source_path, const char* temp_path,
                               std::int64_t expected_length) {
  return Compress(process_state, source_path, temp_path, expected_length, true);
}

void AdvanceWindow(EncoderWindow& window, const std::uint8_t* tail, std::size_t tail_size,
                   std::int64_t length) {
  // Byte k of a member lands at position (k + 1) mod 4096.
  std::int64_t first = length - static_cast<std::int64_t>(tail_size);
  for (std::size_t i = 0; i < tail_size; ++i)
    window.bytes[(first + static_cast<std::int64_t>(i) + 1) & kPositionMask] = tail[i];
}

CompressOutcome CompressMemberFrom(const EncoderWindow& start, const char* source_path,
                                   const char* temp_path, std::int64_t expected_length) {
  auto state = std::make_unique<EncoderState>();
  state->SetWindow(start);
  return Compress(*state, source_path, temp_path, expected_length, false);
}

}  // namespace quiver
