#include "reference_encoder.h"

#include <memory>

namespace quiver::test {
namespace {

struct Node {
  int parent, lower, higher;
};

struct Coder {
  std::uint8_t* window;
  Node tree[4097] = {};
  std::vector<std::uint8_t> out;
  int mask = 0x80;
  int acc = 0;

  void Bit(int bit) {
    if (bit) acc |= mask;
    mask >>= 1;
    if (mask == 0) {
      out.push_back(static_cast<std::uint8_t>(acc));
      acc = 0;
      mask = 0x80;
    }
  }
  void Bits(std::uint32_t code, int count) {
    for (std::uint32_t probe = 1u << (count - 1); probe != 0; probe >>= 1)
      Bit(code & probe ? 1 : 0);
  }
  void Finish() {
    if (mask != 0x80) out.push_back(static_cast<std::uint8_t>(acc));
  }

  void Splice(int old_node, int new_node) {
    if (new_node) tree[new_node].parent = tree[old_node].parent;
    Node& p = tree[tree[old_node].parent];
    (p.higher == old_node ? p.higher : p.lower) = new_node;
    tree[old_node].parent = 0;
  }
  void Substitute(int old_node, int new_node) {
    Node& p = tree[tree[old_node].parent];
    (p.lower == old_node ? p.lower : p.higher) = new_node;
    tree[new_node] = tree[old_node];
    if (tree[new_node].lower) tree[tree[new_node].lower].parent = new_node;
    if (tree[new_node].higher) tree[tree[new_node].higher].parent = new_node;
    tree[old_node].parent = 0;
  }
  void Remove(int p) {
    if (tree[p].parent == 0) return;
    if (tree[p].higher == 0) {
      Splice(p, tree[p].lower);
    } else if (tree[p].lower == 0) {
      Splice(p, tree[p].higher);
    } else {
      int r = tree[p].lower;
      while (tree[r].higher) r = tree[r].higher;
      Remove(r);
      Substitute(p, r);
    }
  }
  int Insert(int n, int& best_position) {
    if (n == 0) return 0;
    int t = tree[4096].higher;
    int best = 0;
    for (;;) {
      int i = 0;
      int diff = 0;
      for (; i < 17; ++i) {
        diff = window[(n + i) & 0xFFF] - window[(t + i) & 0xFFF];
        if (diff != 0) break;
      }
      if (i >= best) {
        best = i;
        best_position = t;
        if (best == 17) {
          Substitute(t, n);
          return 17;
        }
      }
      int& side = diff > 0 ? tree[t].higher : tree[t].lower;
      if (side == 0) {
        side = n;
        tree[n] = {t, 0, 0};
        return best;
      }
      t = side;
    }
  }
};

}  // namespace

std::vector<std::uint8_t> ReferenceEncoder::Compress(const std::vector<std::uint8_t>& member) {
  auto coder = std::make_unique<Coder>();
  coder->window = window_;
  std::size_t next = 0;
  int current = 1;
  int best_length = 0;
  int best_position = 0;
  int look_ahead = 0;
  while (look_ahead < 17 && next < member.size()) window_[current + look_ahead++] = member[next++];
  coder->tree[4096].higher = current;
  coder->tree[current].parent = 4096;
  while (look_ahead > 0) {
    if (best_length > look_ahead) best_length = look_ahead;
    int steps = 1;
    if (best_length <= 1) {
      coder->Bit(1);
      coder->Bits(window_[current], 8);
    } else {
      coder->Bit(0);
      coder->Bits(static_cast<std::uint32_t>(best_position), 12);
      coder->Bits(static_cast<std::uint32_t>(best_length - 2), 4);
      steps = best_length;
    }
    for (int i = 0; i < steps; ++i) {
      int incoming = (current + 17) & 0xFFF;
      coder->Remove(incoming);
      if (next < member.size())
        window_[incoming] = member[next++];
      else
        --look_ahead;
      current = (current + 1) & 0xFFF;
      if (look_ahead) best_length = coder->Insert(current, best_position);
    }
  }
  coder->Bit(0);
  coder->Bits(0, 12);
  coder->Finish();
  return coder->out;
}

}  // namespace quiver::test
