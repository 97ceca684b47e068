#include "match_tree.h"

#include <cstring>

namespace quiver {
void EncoderState::SetWindow(const EncoderWindow& start) {
  std::memcpy(window, start.bytes, kWindowSize);
  std::memcpy(window + kWindowSize, start.bytes, kLookAheadSize);
}

void EncoderState::SetLower(int node, int lower) {
  MatchTree.links[node] = (MatchTree.links[node] & 0xFFFF0000u) | static_cast<std::uint32_t>(lower);
}

void EncoderState::SetHigher(int node, int higher) {
  MatchTree.links[node] = (MatchTree.links[node] & 0xFFFFu) | static_cast<std::uint32_t>(higher)
                                                                  << 16;
}

// Also for a child that is no node: record 0's parent is a scratch slot,
// never read, which spares a branch.
void EncoderState::SetParent(int child, int parent) {
  MatchTree.parent[child] = static_cast<std::uint16_t>(parent);
}

void EncoderState::ClearEntries() {
  for (int node = 1; node < kWindowSize; ++node) {
    if (MatchTree.parent[node] != kNoNode) {
      entry1[Prefix1(node)] = kNoNode;
      entry2[Prefix2(node)] = kNoNode;
    }
  }
}

void EncoderState::ResetTree(int r) {
  std::memset(&MatchTree, 0, sizeof MatchTree);
  SetHigher(kRootAnchor, r);
  MatchTree.parent[r] = kRootAnchor;
  entry1[Prefix1(r)] = static_cast<std::uint16_t>(r);
  entry2[Prefix2(r)] = static_cast<std::uint16_t>(r);
}

void EncoderState::SpliceNode(int old_node, int new_node) {
  int p = MatchTree.parent[old_node];
  SetParent(new_node, p);
  if (Higher(p) == old_node)
    SetHigher(p, new_node);
  else
    SetLower(p, new_node);
  MatchTree.parent[old_node] = kNoNode;
}

void EncoderState::SubstituteNode(int old_node, int new_node) {
  int p = MatchTree.parent[old_node];
  if (Lower(p) == old_node)
    SetLower(p, new_node);
  else
    SetHigher(p, new_node);
  MatchTree.parent[new_node] = static_cast<std::uint16_t>(p);
  MatchTree.links[new_node] = MatchTree.links[old_node];
  SetParent(Lower(new_node), new_node);
  SetParent(Higher(new_node), new_node);
  MatchTree.parent[old_node] = kNoNode;
}

// The highest node of the lower subtree of `node`, which has one.
int EncoderState::Predecessor(int node) {
  int child = Lower(node);
  while (Higher(child) != kNoNode) child = Higher(child);
  return child;
}

// The shallowest node of `subtree` whose string begins with `prefix`.
template <int kBytes>
int EncoderState::FindEntry(int subtree, int prefix) const {
  while (subtree != kNoNode) {
    int here = kBytes == 1 ? Prefix1(subtree) : Prefix2(subtree);
    if (here == prefix) break;
    subtree = here < prefix ? Higher(subtree) : Lower(subtree);
  }
  return subtree;
}

void EncoderState::RemovePosition(int p) {
  if (p == kNoNode || MatchTree.parent[p] == kNoNode) return;
  const int p1 = Prefix1(p);
  const int p2 = Prefix2(p);
  const int lower = Lower(p);
  const int higher = Higher(p);
  if (higher == kNoNode || lower == kNoNode) {
    // The one child's subtree takes p's place and holds the rest of p's
    // beginning.
    const int child = higher == kNoNode ? lower : higher;
    SpliceNode(p, child);
    if (entry1[p1] == p) entry1[p1] = static_cast<std::uint16_t>(FindEntry<1>(child, p1));
    if (entry2[p2] == p) entry2[p2] = static_cast<std::uint16_t>(FindEntry<2>(child, p2));
    return;
  }
  // The predecessor has no higher child; it leaves its place to its lower
  // child, as removing it would, and takes p's.
  const int r = Predecessor(p);
  // r becomes the shallowest node of its beginning unless that node lies
  // above p, that is, unless it is neither p nor on the way down to r.
  const int r1 = Prefix1(r);
  const int r2 = Prefix2(r);
  bool r1_below = entry1[r1] == p;
  bool r2_below = entry2[r2] == p;
  for (int node = lower;; node = Higher(node)) {
    r1_below |= entry1[r1] == node;
    r2_below |= entry2[r2] == node;
    if (node == r) break;
  }
  SpliceNode(r, Lower(r));
  SubstituteNode(p, r);
  if (r1_below) entry1[r1] = static_cast<std::uint16_t>(r);
  if (r2_below) entry2[r2] = static_cast<std::uint16_t>(r);
  // The rest of p's beginning, if r does not share it, is all above p in
  // string order, in r's higher subtree.
  if (entry1[p1] == p)
    entry1[p1] = static_cast<std::uint16_t>(r1 == p1 ? r : FindEntry<1>(Higher(r), p1));
  if (entry2[p2] == p)
    entry2[p2] = static_cast<std::uint16_t>(r2 == p2 ? r : FindEntry<2>(Higher(r), p2));
}

int EncoderState::CommonLength(int a, int b) const {
  return CommonPrefix(window + a, window + b);
}

// Walks down from where strings beginning as n's do, and either files n as
// a leaf or, when it meets an equal string, puts n in that string's place.
inline EncoderState::WalkEnd EncoderState::Walk(int n) {
  const std::uint8_t* key = window + n;
  const std::uint64_t key_head = LoadBigEndian(key);
  const int key1 = Prefix1(n);
  const int key2 = Prefix2(n);
  int t = entry2[key2];
  if (t == kNoNode) t = entry1[key1];
  if (t == kNoNode) t = Higher(kRootAnchor);
  // The last nodes passed on either side: n's neighbours in string order
  // once the walk ends.
  std::uint32_t below = kNoNode;
  std::uint32_t above = kNoNode;
  std::uint32_t node_links = MatchTree.links[t];
  std::uint64_t head = LoadBigEndian(window + t);
  for (;;) {
    // Both children's links and heads are loaded before the comparison picks
    // one, and picked without a branch: the direction is as good as random.
    const std::uint32_t lower = node_links & 0xFFFF;
    const std::uint32_t higher = node_links >> 16;
    const std::uint32_t lower_links = MatchTree.links[lower];
    const std::uint32_t higher_links = MatchTree.links[higher];
    const std::uint64_t lower_head = LoadBigEndian(window + lower);
    const std::uint64_t higher_head = LoadBigEndian(window + higher);
    bool greater = key_head > head;
    if (head == key_head) {
      if (CompareFrom(key, window + t, 8, greater) == kLookAheadSize) {
        // The newer of two equal strings takes the older one's place.
        SubstituteNode(t, n);
        if (entry1[key1] == t) entry1[key1] = static_cast<std::uint16_t>(n);
        if (entry2[key2] == t) entry2[key2] = static_cast<std::uint16_t>(n);
        return {t, below, above, true};
      }
    }
    const std::uint32_t side = 0u - static_cast<std::uint32_t>(greater);
    const auto here = static_cast<std::uint32_t>(t);
    below = (here & side) | (below & ~side);
    above = (above & side) | (here & ~side);
    const std::uint32_t next = lower ^ ((lower ^ higher) & side);
    if (next == kNoNode) {
      // Into the empty link that the walk took.
      MatchTree.links[t] |= static_cast<std::uint32_t>(n) << (16 & side);
      MatchTree.parent[n] = static_cast<std::uint16_t>(t);
      MatchTree.links[n] = 0;
      if (entry1[key1] == kNoNode) entry1[key1] = static_cast<std::uint16_t>(n);
      if (entry2[key2] == kNoNode) entry2[key2] = static_cast<std::uint16_t>(n);
      return {t, below, above, false};
    }
    node_links = lower_links ^ ((lower_links ^ higher_links) & side);
    head = lower_head ^ ((lower_head ^ higher_head) & (0 - static_cast<std::uint64_t>(greater)));
    t = static_cast<int>(next);
  }
}

int EncoderState::InsertPosition(int n, int& best_position) {
  if (n == 0) return 0;
  const WalkEnd end = Walk(n);
  best_position = end.t;
  if (end.equal) return kLookAheadSize;
  // The longest match on a walk is with one of n's neighbours, and of equal
  // lengths the deeper node wins: t, where the walk ended.
  const auto t = static_cast<std::uint32_t>(end.t);
  const int other = static_cast<int>(t == end.below ? end.above : end.below);
  int best_length = CommonLength(n, end.t);
  if (other != kNoNode) {
    int length = CommonLength(n, other);
    if (length > best_length) {
      best_length = length;
      best_position = other;
    }
  }
  return best_length;
}

}  // namespace quiver
