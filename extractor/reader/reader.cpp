#include "quiver/reader.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "archive_core.h"
#include "archive_table.h"
#include "byte_stream.h"
#include "lzss_decoder.h"
#include "name_crc.h"
#include "platform.h"
#include "shown_name.h"

namespace quiver {

ArchiveCore::~ArchiveCore() {
  if (mapping != nullptr) UnmapFile(mapping, bytes.size);
  if (owned_file != kNoFile) CloseFile(owned_file);
}

const LooseIndex& ArchiveCore::Loose() const {
  std::call_once(loose_made_, [this] { loose_ = BuildLooseIndex(table); });
  return loose_;
}

const DirectoryTree& ArchiveCore::Tree() const {
  std::call_once(tree_made_, [this] { tree_ = BuildDirectoryTree(table); });
  return tree_;
}

Source::~Source() = default;

namespace {

// Reads a caller's Source, which it keeps.
class SourceReader : public PositionalReader {
 public:
  explicit SourceReader(std::unique_ptr<Source> source) : source_(std::move(source)) {}
  std::int64_t ReadAt(std::uint8_t* out, std::size_t size, std::int64_t offset) override {
    return source_->ReadAt(out, size, offset);
  }

 private:
  std::unique_ptr<Source> source_;
};

Status Load(ArchiveCore& core) {
  std::string problem = LoadArchiveTable(core.bytes, core.table);
  if (!problem.empty()) return {Status::Code::kDamaged, problem};
  return {};
}

// Keeps `core` in `into` once its table is read and sound.
Status Keep(std::unique_ptr<ArchiveCore> core, std::unique_ptr<Archive::State>& into) {
  Status status = Load(*core);
  if (status) into = std::make_unique<Archive::State>(Archive::State{std::move(core)});
  return status;
}

// Opens the archive file at `path` for reading.
Status OpenArchiveFile(const std::string& path, FileHandle& file, FileStatus& status) {
  file = OpenForReading(path.c_str(), status);
  if (file != kNoFile) return {};
  return {Status::Code::kOpenFailed,
          status.inode != 0 ? "not a regular file" : "cannot open " + ShownName(path)};
}

Status NoMember(std::size_t index) {
  return {Status::Code::kNoSuchMember, "no member " + std::to_string(index)};
}

// Hands a sink's bytes to the caller's function.
class CallbackSink : public ByteSink {
 public:
  explicit CallbackSink(const std::function<bool(const std::uint8_t*, std::size_t)>& consume)
      : consume_(consume) {}
  bool Write(const std::uint8_t* data, std::size_t size) override { return consume_(data, size); }

 private:
  const std::function<bool(const std::uint8_t*, std::size_t)>& consume_;
};

// Collects into a caller's buffer, refusing anything past its end.
class BufferSink : public ByteSink {
 public:
  BufferSink(std::uint8_t* out, std::size_t size) : out_(out), size_(size) {}
  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (size > size_ - filled_) return false;
    std::memcpy(out_ + filled_, data, size);
    filled_ += size;
    return true;
  }

 private:
  std::uint8_t* out_;
  std::size_t size_;
  std::size_t filled_ = 0;
};

}  // namespace

NameIndex* ArchiveCore::Exact() const {
  if (table.in_key_order) return nullptr;
  std::call_once(lookup_made_, [this] { index_ = BuildNameIndex(table); });
  return &index_;
}

Archive::Archive() = default;
Archive::~Archive() = default;
Archive::Archive(Archive&&) noexcept = default;
Archive& Archive::operator=(Archive&&) noexcept = default;

Status Archive::OpenFile(const std::string& path) {
  state_.reset();
  FileHandle file;
  FileStatus file_status;
  if (Status opened = OpenArchiveFile(path, file, file_status); !opened) return opened;
  auto core = std::make_unique<ArchiveCore>();
  core->owned_file = file;
  core->bytes.file = file;
  core->bytes.size = file_status.size;
  return Keep(std::move(core), state_);
}

Status Archive::OpenMapped(const std::string& path) {
  state_.reset();
  FileHandle file;
  FileStatus file_status;
  if (Status opened = OpenArchiveFile(path, file, file_status); !opened) return opened;
  auto core = std::make_unique<ArchiveCore>();
  core->owned_file = file;
  core->bytes.size = file_status.size;
  if (file_status.size > 0) {
    core->mapping = MapFile(file, file_status.size);
    if (core->mapping == nullptr)
      return {Status::Code::kOpenFailed, "cannot map " + ShownName(path)};
    core->bytes.memory = {core->mapping, static_cast<std::size_t>(file_status.size)};
  }
  return Keep(std::move(core), state_);
}

Status Archive::OpenDescriptor(int fd) {
  state_.reset();
  FileStatus file_status;
  if (!StatusOf(fd, file_status) || !file_status.regular)
    return {Status::Code::kOpenFailed, "not a regular file"};
  auto core = std::make_unique<ArchiveCore>();
  core->bytes.file = fd;
  core->bytes.size = file_status.size;
  return Keep(std::move(core), state_);
}

Status Archive::OpenMemory(const std::uint8_t* image, std::size_t size) {
  state_.reset();
  auto core = std::make_unique<ArchiveCore>();
  core->bytes.memory = {image, size};
  core->bytes.size = static_cast<std::int64_t>(size);
  return Keep(std::move(core), state_);
}

Status Archive::OpenSource(std::unique_ptr<Source> source) {
  state_.reset();
  if (!source) return {Status::Code::kOpenFailed, "no source"};
  const std::int64_t size = source->Size();
  if (size < 0) return {Status::Code::kOpenFailed, "the source has no size"};
  auto core = std::make_unique<ArchiveCore>();
  core->reader = std::make_unique<SourceReader>(std::move(source));
  core->bytes.reader = core->reader.get();
  core->bytes.size = size;
  return Keep(std::move(core), state_);
}

bool Archive::compressed() const {
  return state_ && state_->core->compressed();
}

std::size_t Archive::size() const {
  return state_ ? state_->core->table.entries.size() : 0;
}

MemberInfo Archive::member(std::size_t index) const {
  MemberInfo info;
  if (index >= size()) return info;
  const TocEntry& entry = state_->core->table.entries[index];
  info.name = entry.name;
  info.original_length = entry.original_length;
  info.data_offset = entry.data_offset;
  info.stored_length = StoredSpan(entry, compressed());
  info.compressed = IsCompressedMember(entry, compressed());
  info.compressed_length = entry.compressed_length;
  info.key = entry.crc;
  return info;
}

std::optional<std::size_t> Archive::Find(std::string_view name) const {
  if (!state_ || name.size() >= kNameSize || name.find('\0') != std::string_view::npos)
    return std::nullopt;
  const ArchiveCore& core = *state_->core;
  NameIndex* index = core.Exact();
  if (index != nullptr) {
    auto found = index->find(name);
    if (found == index->end()) return std::nullopt;
    return found->second;
  }
  const auto& entries = core.table.entries;
  const std::uint32_t key = NameCrc(std::string(name).c_str());
  auto first = std::lower_bound(entries.begin(), entries.end(), key,
                                [](const TocEntry& e, std::uint32_t k) { return e.crc < k; });
  for (auto it = first; it != entries.end() && it->crc == key; ++it)
    if (name == it->name) return static_cast<std::size_t>(it - entries.begin());
  return std::nullopt;
}

std::optional<std::size_t> FindLooseIn(const ArchiveCore& core, std::string_view name) {
  if (name.size() >= kNameSize || name.find('\0') != std::string_view::npos) return std::nullopt;
  const LooseIndex& index = core.Loose();
  char loose[kNameSize];
  auto found = index.find(LooseName(name, loose));
  if (found == index.end()) return std::nullopt;
  for (std::uint32_t i : found->second)
    if (name == core.table.entries[i].name) return i;
  return found->second.front();
}

std::optional<std::size_t> Archive::FindLoose(std::string_view name) const {
  if (!state_) return std::nullopt;
  return FindLooseIn(*state_->core, name);
}

Status Archive::ReadChunks(
    std::size_t index, const std::function<bool(const std::uint8_t*, std::size_t)>& consume) const {
  if (index >= size()) return NoMember(index);
  const MemberInfo info = member(index);
  std::unique_ptr<ByteSource> source =
      ArchiveRange(state_->core->bytes, info.data_offset, info.stored_length);
  if (info.compressed) {
    CallbackSink sink(consume);
    DecodeResult result = LzssDecoder(*source, info.original_length, sink);
    if (result.write_failed) return {Status::Code::kStopped, "stopped"};
    if (source->failed()) return {Status::Code::kReadFailed, "cannot read " + ShownName(info.name)};
    if (!result.complete || result.produced != info.original_length)
      return {Status::Code::kDecompression, "damaged stream in " + ShownName(info.name)};
    return {};
  }
  std::int64_t delivered = 0;
  for (auto chunk = source->NextChunk(); !chunk.empty(); chunk = source->NextChunk()) {
    if (!consume(chunk.data(), chunk.size())) return {Status::Code::kStopped, "stopped"};
    delivered += static_cast<std::int64_t>(chunk.size());
  }
  if (delivered != info.original_length)
    return {Status::Code::kReadFailed, "cannot read " + ShownName(info.name)};
  return {};
}

Status Archive::WriteTo(std::size_t index, std::intptr_t file) const {
  if (index >= size()) return NoMember(index);
  const MemberInfo info = member(index);
  const FileHandle in = state_->core->bytes.file;
  if (info.compressed || in == kNoFile) {
    Status status = ReadChunks(index, [file](const std::uint8_t* data, std::size_t size) {
      return WriteAll(file, data, size);
    });
    if (status.code() == Status::Code::kStopped)
      return {Status::Code::kWriteFailed, "cannot write " + ShownName(info.name)};
    return status;
  }
  std::vector<std::uint8_t> buffer;
  switch (CopyRange(in, info.data_offset, file, info.original_length, buffer, kCopyBufferSize)) {
    case CopyResult::kOk:
      return {};
    case CopyResult::kWriteError:
      return {Status::Code::kWriteFailed, "cannot write " + ShownName(info.name)};
    case CopyResult::kShortSource:
    case CopyResult::kReadError:
      break;
  }
  return {Status::Code::kReadFailed, "cannot read " + ShownName(info.name)};
}

Status Archive::View(std::size_t index, const std::uint8_t*& data, std::size_t& size) const {
  if (index >= this->size()) return NoMember(index);
  const MemberInfo info = member(index);
  const ArchiveBytes& bytes = state_->core->bytes;
  if (bytes.memory.empty())
    return {Status::Code::kNotMapped, "the archive is read through its file"};
  if (info.compressed)
    return {Status::Code::kCompressed, ShownName(info.name) + " is stored compressed"};
  data = bytes.memory.data() + info.data_offset;
  size = static_cast<std::size_t>(info.original_length);
  return {};
}

Status MemberStreamSetup(const std::shared_ptr<const ArchiveCore>& core, std::size_t index,
                         StreamSetup& setup) {
  if (!core || index >= core->table.entries.size()) return NoMember(index);
  const TocEntry& entry = core->table.entries[index];
  const bool compressed = core->compressed();
  setup.core = core;
  setup.offset = entry.data_offset;
  setup.stored_length = StoredSpan(entry, compressed);
  setup.size = entry.original_length;
  setup.compressed = IsCompressedMember(entry, compressed);
  setup.name = entry.name;
  return {};
}

Status Archive::Read(std::size_t index, std::uint8_t* out, std::size_t size) const {
  if (index >= this->size()) return NoMember(index);
  if (size != static_cast<std::size_t>(member(index).original_length))
    return {Status::Code::kBadBuffer, "buffer is not the member's length"};
  BufferSink sink(out, size);
  return ReadChunks(index, [&sink](const std::uint8_t* data, std::size_t chunk) {
    return sink.Write(data, chunk);
  });
}

Status Archive::Read(std::size_t index, std::vector<std::uint8_t>& out) const {
  out.clear();
  if (index >= size()) return NoMember(index);
  out.resize(static_cast<std::size_t>(member(index).original_length));
  Status status = Read(index, out.data(), out.size());
  if (!status) out.clear();
  return status;
}

}  // namespace quiver
