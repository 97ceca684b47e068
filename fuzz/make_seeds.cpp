// Writes the seed corpus of the fuzz targets: make_seeds CORPUS_DIR
// SOURCE_DIR QUIVER. Valid archives come from the real quiver on the example
// assets; the hostile ones are made by hand, one file per case.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "archive_image.h"

namespace fs = std::filesystem;
using quiver::test::ArchiveImage;
using quiver::test::Bytes;
using quiver::test::ImageRecord;
using quiver::test::kAfterTable;

namespace {

fs::path corpus;

void WriteSeed(const std::string& target, const std::string& name, const Bytes& content) {
  fs::create_directories(corpus / target);
  std::ofstream out(corpus / target / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// A decoder seed: the member's length, the size of the pieces the stream
// arrives in (0: whole), the stream.
Bytes DecoderSeed(std::uint32_t length, std::uint8_t piece, const Bytes& stream) {
  Bytes seed;
  for (int shift = 0; shift < 32; shift += 8)
    seed.push_back(static_cast<std::uint8_t>(length >> shift));
  seed.push_back(piece);
  for (std::uint8_t byte : stream) seed.push_back(byte);
  return seed;
}

ImageRecord Record(const std::string& name, std::int32_t original, std::int32_t compressed_length,
                   const Bytes& data) {
  return {name, original, kAfterTable, compressed_length, data};
}

void WriteStreams() {
  const std::vector<std::pair<std::string, std::pair<std::uint32_t, Bytes>>> streams = {
      {"empty", {0, {0x00, 0x00}}},
      {"a", {1, {0xb0, 0x80, 0x00}}},
      {"abc", {3, {0xb0, 0xd8, 0xac, 0x60, 0x00}}},
      {"abab", {4, {0xb0, 0xd8, 0x80, 0x02, 0x00, 0x00}}},
      {"abc4", {12, {0xb0, 0xd8, 0xac, 0x60, 0x01, 0x70, 0x00, 0x00}}},
      {"a10", {10, {0xb0, 0x80, 0x05, 0xc0, 0x00}}},
      {"ab20", {40, {0xb0, 0xd8, 0x80, 0x03, 0xe0, 0x12, 0xf0, 0x11, 0x90, 0x00, 0x00}}},
  };
  for (const auto& [name, stream] : streams) {
    WriteSeed("decoder", name, DecoderSeed(stream.first, 0, stream.second));
    WriteSeed("decoder", name + "-pieces", DecoderSeed(stream.first, 3, stream.second));
  }
  WriteSeed("decoder", "no-end", DecoderSeed(4, 0, {0xb0, 0xd8, 0x6c, 0x36, 0x10}));
}

void WriteRoundTripsAndResponses(const fs::path& examples) {
  for (const char* name : {"readme.txt", "maps/level1.map", "art/logo.bmp", "sounds/beep.raw"})
    WriteSeed("roundtrip", fs::path(name).filename().string(),
              ReadFile(examples / "assets" / name));
  WriteSeed("roundtrip", "abab", Of("abab"));
  std::string ab20;
  for (int i = 0; i < 20; ++i) ab20 += "ab";
  WriteSeed("roundtrip", "ab20", Of(ab20));
  WriteSeed("response", "assets", ReadFile(examples / "assets.rsp"));
  WriteSeed("response", "comments", Of("a.txt #first word\n#b.txt\nc#d.txt e.txt\n"));
  WriteSeed("response", "crlf-eot",
            Of("a\r\nb\tc\x1a"
               "d e\n# last"));
}

void WriteValidArchives(const fs::path& examples, const std::string& quiver) {
  const fs::path scratch =
      fs::temp_directory_path() / ("quiver-seeds-" + std::to_string(::getpid()));
  fs::create_directories(scratch);
  for (const auto& [option, label] : std::vector<std::pair<std::string, std::string>>{
           {"", "valid-stored"}, {"-c ", "valid-compressed"}, {"-s ", "valid-smallest"}}) {
    const std::string out = (scratch / label).string();
    const std::string command = "cd '" + examples.string() + "' && '" + quiver + "' " + option +
                                "'" + out + "' @assets >/dev/null";
    if (std::system(command.c_str()) != 0) std::exit(1);
    WriteSeed("archive", label + ".qvr", ReadFile(out + ".qvr"));
  }
  fs::remove_all(scratch);
}

void WriteHostileArchives() {
  const Bytes evil = Of("evil");
  const Bytes a10 = {0xb0, 0x80, 0x05, 0xc0, 0x00};
  Bytes table_cut = ArchiveImage({Record("a", 1, 0, Of("1")), Record("b", 1, 0, Of("2"))});
  table_cut.resize(16 + 272 + 100);
  ImageRecord outside = Record("victim", 4, 0, evil);
  outside.data_offset = 0x7FFFFFF0;
  ImageRecord shared = Record("copy", 10, 5, {});
  shared.data_offset = 16 + 272 * 2;
  ImageRecord in_table = Record("victim", 20, 0, evil);
  in_table.data_offset = 4;
  const std::map<std::string, Bytes> hostile = {
      {"parent-name", ArchiveImage({Record("../victim", 4, 0, evil)})},
      {"absolute-name", ArchiveImage({Record("/tmp/victim", 4, 0, evil)})},
      {"root-name", ArchiveImage({Record("\\victim", 4, 0, evil)})},
      {"drive-name", ArchiveImage({Record("c:\\victim", 4, 0, evil)})},
      {"directory-name", ArchiveImage({Record("dir\\", 4, 0, evil)})},
      {"no-nul", ArchiveImage({Record(std::string(256, 'n'), 4, 0, evil)})},
      {"negative-count", ArchiveImage({}, 0, -1)},
      {"huge-count", ArchiveImage({Record("victim", 4, 0, evil)}, 0, 0x7FFFFFFF)},
      {"table-cut", table_cut},
      {"span-cut", ArchiveImage({Record("victim", 40, 0, evil)})},
      {"offset-outside", ArchiveImage({outside})},
      {"negative-length", ArchiveImage({Record("victim", -4, 0, evil)})},
      {"stream-no-end", ArchiveImage({Record("victim", 4, 5, {0xb0, 0xd8, 0x6c, 0x36, 0x10})}, 1)},
      {"stream-too-many", ArchiveImage({Record("victim", 9, 5, a10)}, 1)},
      {"stream-too-few", ArchiveImage({Record("victim", 11, 5, a10)}, 1)},
      {"short-file", {0x01, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"length-beyond-stream", ArchiveImage({Record("victim", 0x7FFFFFFF, 5, a10)}, 1)},
      {"overlapping-spans", ArchiveImage({Record("victim", 10, 5, a10), shared}, 1)},
      {"span-in-table", ArchiveImage({in_table})},
      // Found by fuzzing: a table of no entries, read from memory, copied
      // from a null buffer.
      {"valid-empty-table",
       [&] {
         Bytes image = ArchiveImage({});
         image.insert(image.end(), evil.begin(), evil.end());
         return image;
       }()},
      // Found by fuzzing: a member whose 255-character name left no room for
      // the name of its unfinished output.
      {"valid-long-name",
       ArchiveImage({Record(std::string(200, 'n') + ".qvx-" + std::string(50, 'n'), 4, 0, evil)})},
  };
  for (const auto& [name, image] : hostile) WriteSeed("archive", name + ".qvr", image);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_seeds CORPUS_DIR SOURCE_DIR QUIVER\n");
    return 2;
  }
  corpus = argv[1];
  const fs::path examples = fs::path(argv[2]) / "examples";
  fs::remove_all(corpus);
  WriteStreams();
  WriteRoundTripsAndResponses(examples);
  WriteValidArchives(examples, fs::absolute(argv[3]).string());
  WriteHostileArchives();
  return 0;
}
