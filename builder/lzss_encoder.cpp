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

struct TreeNode {
  std::int32_t parent;
  std::int32_t lower;
  std::int32_t higher;
};

// The first 17 bytes stand again past the end, so a 17-byte string that
// crosses position 4095 reads straight on without masking.
std::uint8_t window[kWindowSize + kLookAheadSize];
TreeNode MatchTree[kWindowSize + 1];

void StoreByte(int position, std::uint8_t byte) {
  window[position] = byte;
  if (position < kLookAheadSize) window[kWindowSize + position] = byte;
}

void ResetTree(int r) {
  std::memset(MatchTree, 0, sizeof MatchTree);
  MatchTree[kRootAnchor].higher = r;
  MatchTree[r].parent = kRootAnchor;
  MatchTree[r].lower = kNoNode;
  MatchTree[r].higher = kNoNode;
}

void SetParent(int child, int parent) {
  if (child != kNoNode) MatchTree[child].parent = parent;
}

void SpliceNode(int old_node, int new_node) {
  SetParent(new_node, MatchTree[old_node].parent);
  TreeNode& p = MatchTree[MatchTree[old_node].parent];
  if (p.higher == old_node)
    p.higher = new_node;
  else
    p.lower = new_node;
  MatchTree[old_node].parent = kNoNode;
}

void SubstituteNode(int old_node, int new_node) {
  TreeNode& p = MatchTree[MatchTree[old_node].parent];
  if (p.lower == old_node)
    p.lower = new_node;
  else
    p.higher = new_node;
  MatchTree[new_node] = MatchTree[old_node];
  SetParent(MatchTree[new_node].lower, new_node);
  SetParent(MatchTree[new_node].higher, new_node);
  MatchTree[old_node].parent = kNoNode;
}

int Predecessor(int node) {
  int child = MatchTree[node].lower;
  while (MatchTree[child].higher != kNoNode) child = MatchTree[child].higher;
  return child;
}

void RemovePosition(int p) {
  if (MatchTree[p].parent == kNoNode) return;
  if (MatchTree[p].higher == kNoNode) {
    SpliceNode(p, MatchTree[p].lower);
  } else if (MatchTree[p].lower == kNoNode) {
    SpliceNode(p, MatchTree[p].higher);
  } else {
    int r = Predecessor(p);
    RemovePosition(r);
    SubstituteNode(p, r);
  }
}

// Length of the common prefix of the strings at a and b, starting the scan at
// `known`, a length both are already known to share; sets `difference` to the
// sign of the first unequal byte.
int MatchLength(const std::uint8_t* a, const std::uint8_t* b, int known, int& difference) {
  int i = known;
  for (; i + 8 <= kLookAheadSize; i += 8) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) {
      i += __builtin_ctzll(x ^ y) / 8;
      difference = a[i] - b[i];
      return i;
    }
  }
  for (; i < kLookAheadSize; ++i) {
    if (a[i] != b[i]) {
      difference = a[i] - b[i];
      return i;
    }
  }
  difference = 0;
  return kLookAheadSize;
}

int InsertPosition(int n, int& best_position) {
  if (n == 0) return 0;
  int t = MatchTree[kRootAnchor].higher;
  int best_length = 0;
  // Every node below the last turns shares with n the shorter of the prefixes
  // n shares with the last nodes it passed on either side.
  int lower_prefix = 0;
  int higher_prefix = 0;
  for (;;) {
    int difference = 0;
    int known = lower_prefix < higher_prefix ? lower_prefix : higher_prefix;
    int length = MatchLength(window + n, window + t, known, difference);
    if (length >= best_length) {
      best_length = length;
      best_position = t;
      if (best_length == kLookAheadSize) {
        SubstituteNode(t, n);
        return kLookAheadSize;
      }
    }
    std::int32_t* side;
    if (difference > 0) {
      side = &MatchTree[t].higher;
      higher_prefix = length;
    } else {
      side = &MatchTree[t].lower;
      lower_prefix = length;
    }
    if (*side == kNoNode) {
      *side = n;
      MatchTree[n] = {t, kNoNode, kNoNode};
      return best_length;
    }
    t = *side;
  }
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

}  // namespace

void ResetEncoderWindow() {
  std::memset(window, 0, sizeof window);
}

CompressOutcome CompressMember(const char* source_path, const char* temp_path,
                               std::int64_t expected_length) {
  int fd = OpenSource(source_path);
  if (fd < 0) return {CompressStatus::kSourceUnreadable, 0};
  auto source = std::make_unique<SourceReader>(fd);
  {
    auto bits = std::make_unique<BitFile>(temp_path);
    Encode(*source, *bits);
  }
  ::close(fd);
  if (source->failed()) return {CompressStatus::kSourceUnreadable, 0};
  if (expected_length >= 0 && source->total() != expected_length)
    return {CompressStatus::kSourceChanged, 0};
  int temp = ::open(temp_path, O_RDONLY | O_CLOEXEC);
  if (temp < 0) return {CompressStatus::kTempUnreadable, 0};
  struct stat st;
  bool measured = ::fstat(temp, &st) == 0;
  ::close(temp);
  if (!measured || st.st_size > 0x7FFFFFFF) return {CompressStatus::kTempUnreadable, 0};
  return {CompressStatus::kOk, static_cast<std::int32_t>(st.st_size)};
}

}  // namespace quiver
