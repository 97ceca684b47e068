// The bit streams and the LZSS coder: the worked byte sequences, encoder
// against a plain reference, and encoder against decoder.
#ifndef _WIN32
#include <fcntl.h>
#endif

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "bit_file.h"
#include "byte_stream.h"
#include "lzss_decoder.h"
#include "lzss_encoder.h"
#include "memory_coder.h"
#include "platform.h"
#include "reference_encoder.h"
#include "scratch.h"
#include "sorted_neighbours.h"
#include "stream_length.h"
#include "thread_scratch.h"
#include "worker_pool.h"

namespace quiver::test {
namespace {

Bytes Of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

class VectorSink : public ByteSink {
 public:
  bool Write(const std::uint8_t* data, std::size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  Bytes bytes;
};

struct Decoded {
  DecodeResult result;
  Bytes bytes;
};

// A stream handed over in pieces of one size, as a file is read.
class PieceSource : public ByteSource {
 public:
  PieceSource(const Bytes& stream, std::size_t piece) : rest_(stream), piece_(piece) {}
  std::span<const std::uint8_t> NextChunk() override {
    auto chunk = rest_.first(std::min(piece_, rest_.size()));
    rest_ = rest_.subspan(chunk.size());
    return chunk;
  }

 private:
  std::span<const std::uint8_t> rest_;
  std::size_t piece_;
};

// `piece` 0 hands the stream over whole.
Decoded Decode(const Bytes& stream, std::int64_t limit = 1 << 30, std::size_t piece = 0) {
  PieceSource source(stream, piece == 0 ? stream.size() : piece);
  VectorSink sink;
  Decoded decoded;
  decoded.result = LzssDecoder(source, limit, sink);
  decoded.bytes = sink.bytes;
  return decoded;
}

// A member of each shape the coders meet, the longest `size` bytes: text,
// binary records, runs, random bytes, sorted lines, three letters, zeros.
std::vector<Bytes> EveryShape(std::size_t size) {
  Bytes few = RandomData(size * 9 / 10, 4);
  for (std::uint8_t& b : few) b = static_cast<std::uint8_t>('a' + b % 3);
  return {TextData(size, 1),          BinaryData(size * 7 / 10 + 1, 2),
          RunsData(size * 9 / 10, 3), RandomData(size * 4 / 10, 4),
          SortedData(size),           few,
          Bytes(size / 2, 0)};
}

// Members coded one after another as in one run: each from the window the
// ones before it leave, on a pool of two threads.
class CodecTest : public ScratchTest {
 protected:
  // Files as the builder hands them to the coder: the member open at its
  // start, the temporary file new and empty.
  // A directory opens too, and then cannot be read; Windows opens none.
  FileHandle OpenSource(const std::string& name) {
#ifdef _WIN32
    FileStatus status;
    return OpenForReading(Path(name).c_str(), status);
#else
    return ::open(Path(name).c_str(), O_RDONLY | O_CLOEXEC);
#endif
  }
  FileHandle CreateTemp(const std::string& name) {
    return CreateOrTruncate(Path(name).c_str());
  }

  // On the fixture's pool unless given another.
  CompressOutcome CompressFile(const EncoderWindow& start, std::int64_t length,
                               std::int64_t block_size = kBlockSize, WorkerPool* pool = nullptr) {
    const FileHandle temp = CreateTemp("member.tmp");
    CompressOutcome outcome = CompressMember(start, OpenSource("member"), temp, length,
                                             pool != nullptr ? *pool : pool_, block_size);
    CloseFile(temp);
    return outcome;
  }

  Bytes Compress(const Bytes& member) {
    Write("member", member);
    CompressOutcome outcome = CompressFile(window_, static_cast<std::int64_t>(member.size()));
    EXPECT_EQ(outcome.status, CompressStatus::kOk);
    AdvanceWindow(window_, member.data(), member.size(), static_cast<std::int64_t>(member.size()));
    Bytes stream = Read("member.tmp");
    EXPECT_EQ(static_cast<std::size_t>(outcome.length), stream.size());
    return stream;
  }

  WorkerPool pool_{2, ReleaseThreadScratch};
  EncoderWindow window_;

  template <typename Fill>
  Bytes Bits(Fill fill) {
    {
      BitFile bits(Path("bits").c_str());
      fill(bits);
    }
    return Read("bits");
  }
};

TEST_F(CodecTest, BitFilePacksMostSignificantBitFirst) {
  EXPECT_EQ(Bits([](BitFile&) {}), Bytes{});
  EXPECT_EQ(Bits([](BitFile& b) { b.OutputBits(0xA5, 8); }), (Bytes{0xA5}));
  EXPECT_EQ(Bits([](BitFile& b) {
              b.OutputBit(1);
              b.OutputBits(0x61, 8);
            }),
            (Bytes{0xB0, 0x80}));
  EXPECT_EQ(Bits([](BitFile& b) { b.OutputBits(0xABC, 12); }), (Bytes{0xAB, 0xC0}));
  EXPECT_EQ(Bits([](BitFile& b) { b.OutputBits(0x1F, 4); }), (Bytes{0xF0}));
  EXPECT_EQ(Bits([](BitFile& b) { b.OutputBit(2); }), (Bytes{0x80}));
  EXPECT_EQ(Bits([](BitFile& b) { b.OutputBits(0xDEADBEEF, 32); }),
            (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST_F(CodecTest, BitFileTruncatesAnExistingFile) {
  Write("bits", std::string(100, 'x'));
  EXPECT_EQ(Bits([](BitFile& b) { b.OutputBits(0x12, 8); }), (Bytes{0x12}));
}

TEST_F(CodecTest, BitFileThatCannotOpenReportsAndEndsWith255) {
  std::string path = Path("missing/dir/file");
  EXPECT_EXIT(
      {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        BitFile bits(path.c_str());
      },
      ::testing::ExitedWithCode(255),
      "Fatal error: BitFile::BitFile unable to open temporary file .*missing/dir/file\\.");
}

TEST_F(CodecTest, BitFileWriteFailureReportsTheOperation) {
  EXPECT_EXIT(
      {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        BitFile bits("/dev/full");
        for (int i = 0; i < 200000; ++i) bits.OutputBits(0x55, 8);
      },
      ::testing::ExitedWithCode(255), "Fatal error: Fatal error in OutputBits!");
  EXPECT_EXIT(
      {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        BitFile bits("/dev/full");
        bits.OutputBits(0x55, 8);
      },
      ::testing::ExitedWithCode(255), "Fatal error: Fatal error in ~BitFile!");
}

TEST_F(CodecTest, WorkedStreamsOfAFirstMember) {
  struct Case {
    std::string member;
    Bytes stream;
  };
  const Case cases[] = {
      {"", {0x00, 0x00}},
      {"a", {0xB0, 0x80, 0x00}},
      {"abc", {0xB0, 0xD8, 0xAC, 0x60, 0x00}},
      {"abab", {0xB0, 0xD8, 0x80, 0x02, 0x00, 0x00}},
      {Repeat("abc", 4), {0xB0, 0xD8, 0xAC, 0x60, 0x01, 0x70, 0x00, 0x00}},
      {std::string(10, 'a'), {0xB0, 0x80, 0x05, 0xC0, 0x00}},
      {Repeat("ab", 20), {0xB0, 0xD8, 0x80, 0x03, 0xE0, 0x12, 0xF0, 0x11, 0x90, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    window_ = {};
    EXPECT_EQ(Compress(Of(c.member)), c.stream) << c.member;
    Decoded decoded = Decode(c.stream);
    EXPECT_TRUE(decoded.result.complete) << c.member;
    EXPECT_EQ(decoded.bytes, Of(c.member));
  }
}

TEST_F(CodecTest, MatchesThePlainAlgorithmOnEveryShapeAndAcrossMembers) {
  // One run: the window carries over, so each stream depends on the members
  // before it, in both encoders alike.
  ReferenceEncoder reference;
  std::vector<Bytes> members;
  for (std::size_t size : {0, 1, 2, 17, 18, 4095, 4096, 4097, 70000})
    for (std::uint64_t seed = 1; seed <= 2; ++seed) {
      members.push_back(TextData(size, seed));
      members.push_back(RandomData(size, seed));
      members.push_back(RunsData(size, seed));
      members.push_back(BinaryData(size, seed));
    }
  members.push_back(Bytes(9000, 0));
  members.push_back(Of(Repeat("abcdefghijklmnopq", 500)));
  members.push_back(SortedData(70000));
  // Few symbols: many strings share their first bytes, so the tree often
  // loses a node with two children whose neighbours begin alike or not.
  for (std::uint8_t symbols : {2, 3, 5}) {
    Bytes few = RandomData(70000, symbols);
    for (std::uint8_t& b : few) b = static_cast<std::uint8_t>('a' + b % symbols);
    members.push_back(few);
  }
  for (const Bytes& member : members) {
    Bytes stream = Compress(member);
    ASSERT_EQ(stream, reference.Compress(member)) << "member of " << member.size() << " bytes";
    EXPECT_LE(stream.size(), (9 * member.size() + 13 + 7) / 8);
    Decoded decoded = Decode(stream, static_cast<std::int64_t>(member.size()));
    ASSERT_TRUE(decoded.result.complete);
    ASSERT_EQ(decoded.bytes, member);
  }
}

TEST_F(CodecTest, LargeMembersRoundTrip) {
  for (const Bytes& member : {TextData(1500000, 7), RandomData(1100000, 8), RunsData(2000000, 9)}) {
    Bytes stream = Compress(member);
    EXPECT_LE(stream.size(), (9 * member.size() + 13 + 7) / 8);
    Decoded decoded = Decode(stream, static_cast<std::int64_t>(member.size()));
    ASSERT_TRUE(decoded.result.complete);
    ASSERT_EQ(decoded.bytes, member);
  }
}

// Members coded in blocks on several threads, against the plain coder going
// through the same members in one run.
class BlockCodingTest : public CodecTest {
 protected:
  Bytes CompressInBlocks(const EncoderWindow& start, const Bytes& member, std::int64_t block_size) {
    Write("member", member);
    CompressOutcome outcome =
        CompressFile(start, static_cast<std::int64_t>(member.size()), block_size);
    EXPECT_EQ(outcome.status, CompressStatus::kOk);
    return Read("member.tmp");
  }
};

TEST_F(BlockCodingTest, BlocksWriteTheStreamOfOneCoder) {
  std::vector<Bytes> members = EveryShape(100000);
  members.push_back(Of(Repeat("abcdefghijklmnopq", 3000)));
  // 12271 puts the second block's first string where the one before the
  // window span sits at position 0, which is never in the tree.
  for (std::int64_t block_size : {8192, 12271}) {
    ReferenceEncoder reference;
    EncoderWindow window;
    Bytes before = TextData(3000, 5);
    reference.Compress(before);
    AdvanceWindow(window, before.data(), before.size(), static_cast<std::int64_t>(before.size()));
    for (const Bytes& member : members) {
      ASSERT_EQ(CompressInBlocks(window, member, block_size), reference.Compress(member))
          << member.size() << " bytes in blocks of " << block_size;
      AdvanceWindow(window, member.data() + member.size() - kWindowSize, kWindowSize,
                    static_cast<std::int64_t>(member.size()));
    }
  }
}

TEST_F(BlockCodingTest, LongMemberInTheRunLeavesTheWindowOfOneCoder) {
  // Long enough to be coded in blocks where there are two cores.
  ReferenceEncoder reference;
  for (const Bytes& member : {TextData(kBlockThreshold + 5000, 6), TextData(3000, 7)}) {
    ASSERT_EQ(Compress(member), reference.Compress(member)) << member.size() << " bytes";
  }
}

TEST_F(BlockCodingTest, OneThreadOrNoneWritesTheSameStream) {
  const Bytes member = TextData(100000, 9);
  const Bytes expected = ReferenceEncoder().Compress(member);
  Write("member", member);
  // A pool the system gave no thread runs each block on the coding thread.
  for (int threads : {1, 0}) {
    WorkerPool pool(threads, ReleaseThreadScratch);
    ASSERT_EQ(CompressFile(EncoderWindow{}, 100000, 8192, &pool).status, CompressStatus::kOk);
    EXPECT_EQ(Read("member.tmp"), expected) << threads << " threads";
  }
}

TEST_F(BlockCodingTest, MemberThatShrankOrGrewIsReported) {
  Write("member", TextData(50000, 8));
  for (std::int64_t expected : {60000, 40000}) {
    EXPECT_EQ(CompressFile(EncoderWindow{}, expected, 8192).status, CompressStatus::kSourceChanged)
        << expected;
  }
}

// The records of [start, end) from what they mean, by brute force: each
// string's nearest strings below and above it in 17-byte order among those
// of the 4079 bytes before it, the newest of equal ones.
std::vector<NeighbourRecord> DefinedRecords(const Bytes& member, std::int64_t start,
                                            std::int64_t end) {
  using String = std::array<std::uint8_t, kLookAheadSize>;
  const auto length = static_cast<std::int64_t>(member.size());
  const auto string_at = [&](std::int64_t k) {
    String s;
    for (std::int64_t j = 0; j < kLookAheadSize; ++j)
      s[j] = member[k + j < length ? k + j : k + j - kWindowSize];
    return s;
  };
  const auto common = [](const String& a, const String& b) {
    return static_cast<int>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
  };
  std::map<String, std::int64_t> strings;  // each to the offset of its newest
  std::vector<NeighbourRecord> records(static_cast<std::size_t>(end - start));
  for (std::int64_t k = 0; k < end; ++k) {
    const std::int64_t gone = k - (kWindowSize - kLookAheadSize) - 1;
    if (gone >= 0) {
      const auto old = strings.find(string_at(gone));
      if (old != strings.end() && old->second == gone) strings.erase(old);
    }
    if (PositionOfOffset(k) == kNoNode) continue;
    const String s = string_at(k);
    const auto above = strings.lower_bound(s);
    if (k >= start && k > 0) {
      NeighbourRecord& record = records[k - start];
      if (above != strings.end() && above->first == s) {
        record = MakeNeighbourRecord(PositionOfOffset(above->second), kNoNode, kLookAheadSize,
                                     NeighbourKind::kEqual);
      } else {
        int below_position = kNoNode, above_position = kNoNode, below_length = -1,
            above_length = -1;
        if (above != strings.begin()) {
          below_position = PositionOfOffset(std::prev(above)->second);
          below_length = common(s, std::prev(above)->first);
        }
        if (above != strings.end()) {
          above_position = PositionOfOffset(above->second);
          above_length = common(s, above->first);
        }
        const NeighbourKind kind = below_length > above_length   ? NeighbourKind::kBelow
                                   : above_length > below_length ? NeighbourKind::kAbove
                                                                 : NeighbourKind::kTie;
        record = MakeNeighbourRecord(below_position, above_position,
                                     std::max(below_length, above_length), kind);
      }
    }
    strings[s] = k;
  }
  return records;
}

TEST(SortedNeighboursTest, RecordsMatchTheirMeaningOnEveryShape) {
  const std::vector<Bytes> members = EveryShape(120000);
  SortedNeighbours sorted;
  for (const Bytes& member : members) {
    const auto length = static_cast<std::int64_t>(member.size());
    // From the member's start, and from further on to its end, where strings
    // read on in the window.
    for (std::int64_t start : {std::int64_t{0}, std::int64_t{9000}}) {
      const std::int64_t end = start == 0 ? 40000 : length;
      std::vector<NeighbourRecord> records(static_cast<std::size_t>(end - start));
      sorted.Find({member.data(), 0, length}, start, end, records.data());
      ASSERT_EQ(records, DefinedRecords(member, start, end)) << length << " bytes from " << start;
    }
  }
}

// Short members coded several to one sort, as the builder batches them,
// against the plain coder going through them in one run: members of 1 to
// 20 bytes and just below and above the window's length read their last
// strings on into what the members before them left, and batches end at
// every kind of member.
TEST(ShortMemberBatchTest, BatchesWriteTheStreamsOfOneCoder) {
  std::vector<Bytes> members;
  std::uint64_t seed = 1;
  const std::int64_t limit = SortedNeighbours::kShortMemberLimit;
  for (std::size_t size : {1,
                           2,
                           3,
                           5,
                           8,
                           13,
                           16,
                           17,
                           18,
                           19,
                           20,
                           100,
                           4079,
                           4080,
                           4095,
                           4096,
                           4097,
                           12000,
                           static_cast<int>(limit) - 1,
                           static_cast<int>(limit)}) {
    for (const Bytes& shape : EveryShape(size)) {
      members.push_back(shape);
      members.back().resize(size, static_cast<std::uint8_t>(seed));
      members.push_back(RandomData(seed % 40 + 1, seed));
      ++seed;
    }
  }
  // Batches as full as they go, and of one or two members.
  for (const std::int64_t capacity : {SortedNeighbours::kBatchBytes, limit + 40}) {
    ReferenceEncoder reference;
    EncoderWindow window;
    std::vector<ShortMember> batch;
    std::vector<std::array<std::uint8_t, kLookAheadSize - 1>> past_ends(members.size());
    std::vector<Bytes> streams(members.size());
    std::vector<Bytes*> outputs;
    std::int64_t bytes = 0;
    const auto code = [&] {
      EncodeShortMembers(batch.data(), batch.size(), outputs.data());
      batch.clear();
      outputs.clear();
      bytes = 0;
    };
    for (std::size_t j = 0; j < members.size(); ++j) {
      const Bytes& member = members[j];
      const auto length = static_cast<std::int64_t>(member.size());
      if (bytes + length + kLookAheadSize - 1 > capacity) code();
      WindowBytesPastEnd(window, member.data(), length, past_ends[j].data());
      AdvanceWindow(window, member.data(), member.size(), length);
      batch.push_back({member.data(), length, past_ends[j].data()});
      outputs.push_back(&streams[j]);
      bytes += length + kLookAheadSize - 1;
    }
    code();
    for (std::size_t j = 0; j < members.size(); ++j)
      ASSERT_EQ(streams[j], reference.Compress(members[j]))
          << "member " << j << " of " << members[j].size() << " bytes, batches of " << capacity;
  }
}

// The stream's length found without coding, against the plain coder going
// through members of every shape, of two letters (many equal strings) and
// of random bytes, short and longer than the window, in one run.
TEST(StreamLengthTest, LengthsOfTheStreamsOfOneCoder) {
  std::vector<Bytes> members;
  std::uint64_t seed = 1;
  for (std::size_t size : {1, 2, 3, 17, 18, 100, 4079, 4095, 4096, 4097, 4113, 30000}) {
    for (const Bytes& shape : EveryShape(size)) {
      members.push_back(shape);
      members.push_back(RandomData(size, ++seed));
      Bytes letters(size);
      for (std::uint8_t& byte : letters)
        byte = "ab"[(seed = seed * 6364136223846793005u + 1) >> 63];
      members.push_back(letters);
    }
  }
  // Equal strings of the longest match just out of and just within each
  // other's reach, all other pairs of bytes distinct (a counter's two bytes).
  for (const std::size_t first : {0, 1}) {
    Bytes member(4097);
    for (std::size_t i = 0; i < member.size(); ++i)
      member[i] = static_cast<std::uint8_t>(i % 2 == 0 ? 128 + i / 128 : i / 2 % 64);
    Bytes string(kMaxMatchLength);
    std::iota(string.begin(), string.end(), std::uint8_t{200});
    std::copy(string.begin(), string.end(), member.begin() + static_cast<std::ptrdiff_t>(first));
    std::copy(string.begin(), string.end(), member.end() - kMaxMatchLength);
    members.push_back(member);
  }
  ReferenceEncoder reference;
  EncoderWindow window;
  for (const Bytes& member : members) {
    const auto length = static_cast<std::int64_t>(member.size());
    Bytes measured(member.size() + kMeasuredRoom);
    std::copy(member.begin(), member.end(), measured.begin());
    WindowBytesPastEnd(window, member.data(), length, measured.data() + length);
    AdvanceWindow(window, member.data(), member.size(), length);
    ASSERT_EQ(StreamLength(measured.data(), length, INT64_MAX),
              static_cast<std::int64_t>(reference.Compress(member).size()))
        << length << " bytes";
  }
  // Work beyond the limit gives up.
  EXPECT_EQ(
      StreamLength(Of(Repeat("ab", 100) + Repeat("x", static_cast<int>(kMeasuredRoom))).data(), 200,
                   10),
      -1);
}

TEST_F(CodecTest, SameMemberMayCompressDifferentlyLaterInARunAndStillDecode) {
  Bytes first = Compress(Of("xyz"));
  Compress(TextData(5000, 3));
  Bytes again = Compress(Of("xyz"));
  EXPECT_EQ(Decode(first).bytes, Of("xyz"));
  EXPECT_EQ(Decode(again).bytes, Of("xyz"));
}

TEST(DecoderTest, WorkedStreamsAndMatchesAcrossTheWindowEnd) {
  EXPECT_EQ(Decode({0x00, 0x00}).bytes, Bytes{});
  EXPECT_EQ(Decode({0xB0, 0x80, 0x00}).bytes, Of("a"));
  EXPECT_EQ(Decode({0xB0, 0xD8, 0xAC, 0x60, 0x00}).bytes, Of("abc"));
  Decoded ten = Decode({0xB0, 0x80, 0x05, 0xC0, 0x00});
  EXPECT_TRUE(ten.result.complete);
  EXPECT_EQ(ten.result.produced, 10);
  EXPECT_EQ(ten.bytes, Of(std::string(10, 'a')));
}

TEST(DecoderTest, DamagedStreamsAreNeverComplete) {
  const Bytes good = {0xB0, 0xD8, 0xAC, 0x60, 0x01, 0x70, 0x00, 0x00};
  for (std::size_t piece : {0, 1, 3}) {
    EXPECT_TRUE(Decode(good, 12, piece).result.complete);
    // Cut anywhere before the end token: no trustworthy count.
    for (std::size_t cut = 0; cut + 1 < good.size(); ++cut) {
      Bytes shorter(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
      EXPECT_FALSE(Decode(shorter, 12, piece).result.complete) << cut;
    }
    // More output than the member may have.
    Decoded over = Decode(good, 11, piece);
    EXPECT_FALSE(over.result.complete);
    EXPECT_LE(over.bytes.size(), 11u);
    // Literals without an end token.
    EXPECT_FALSE(Decode(Bytes(64, 0xFF), 1 << 30, piece).result.complete);
  }
}

TEST(DecoderTest, ArbitraryBytesStayWithinTheLimit) {
  for (std::uint64_t seed = 1; seed < 200; ++seed) {
    Bytes junk = RandomData(seed * 7, seed);
    Decoded decoded = Decode(junk, 1000);
    EXPECT_LE(decoded.bytes.size(), 1000u);
    EXPECT_EQ(static_cast<std::int64_t>(decoded.bytes.size()), decoded.result.produced);
  }
}

// Streams of every token the format allows, written bit by bit, against the
// window the format describes: matches of every length at every distance,
// short ones overlapping their own output, across the window's end and
// across the decoder's output buffer.
TEST(DecoderTest, EveryMatchShapeDecodesAsTheFormatSays) {
  std::uint64_t state = 99;
  auto next = [&state](std::uint64_t bound) { return RandomData(1, state++)[0] * 7919u % bound; };
  Bytes stream;
  int bit_count = 0;
  auto put = [&](std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (bit_count % 8 == 0) stream.push_back(0);
      if ((value >> i) & 1) stream.back() |= static_cast<std::uint8_t>(0x80 >> (bit_count % 8));
      ++bit_count;
    }
  };
  std::uint8_t window[4096] = {};
  int position = 1;
  Bytes expected;
  while (expected.size() < 300000) {
    std::size_t produced = expected.size();
    if (produced == 0 || next(4) == 0) {
      auto byte = static_cast<std::uint8_t>(next(256));
      put(1, 1);
      put(byte, 8);
      expected.push_back(byte);
      window[position] = byte;
      position = (position + 1) & 0xFFF;
      continue;
    }
    int most = static_cast<int>(std::min<std::size_t>(produced, 4079));
    int distance = next(3) == 0 ? 1 + static_cast<int>(next(std::min(most, 8)))
                                : 1 + static_cast<int>(next(static_cast<std::uint64_t>(most)));
    int length = 2 + static_cast<int>(next(16));
    int source = (position - distance) & 0xFFF;
    // Position 0 would read as the end token; the encoder never refers to it.
    if (source == 0) continue;
    put(0, 1);
    put(static_cast<std::uint32_t>(source), 12);
    put(static_cast<std::uint32_t>(length - 2), 4);
    for (int i = 0; i < length; ++i) {
      std::uint8_t byte = window[(source + i) & 0xFFF];
      expected.push_back(byte);
      window[position] = byte;
      position = (position + 1) & 0xFFF;
    }
  }
  put(0, 13);
  // Whole, and in pieces that end anywhere within a token.
  for (std::size_t piece : {0, 1, 5, 8, 9, 4093}) {
    Decoded decoded = Decode(stream, static_cast<std::int64_t>(expected.size()), piece);
    EXPECT_TRUE(decoded.result.complete) << piece;
    EXPECT_EQ(decoded.bytes, expected) << piece;
    // A member said to be shorter than its stream: never more than it may
    // hold, wherever its end falls within a token.
    for (std::int64_t limit = 150000; limit < 150017; ++limit) {
      Decoded cut = Decode(stream, limit, piece);
      EXPECT_FALSE(cut.result.complete) << piece;
      ASSERT_LE(static_cast<std::int64_t>(cut.bytes.size()), limit) << piece;
      EXPECT_TRUE(std::equal(cut.bytes.begin(), cut.bytes.end(), expected.begin())) << piece;
    }
  }
}

TEST_F(CodecTest, SourceThatIsUnreadableOrChangedIsReported) {
  std::filesystem::create_directory(Path("member"));
  EXPECT_EQ(CompressFile(window_, 5).status, CompressStatus::kSourceUnreadable);
  std::filesystem::remove(Path("member"));
  Write("member", std::string("12345"));
  EXPECT_EQ(CompressFile(window_, 6).status, CompressStatus::kSourceChanged);
}

}  // namespace
}  // namespace quiver::test
