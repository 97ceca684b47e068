#include <mutex>

#include "archive_core.h"
#include "compressed_reader.h"
#include "quiver/reader.h"
#include "shown_name.h"

namespace quiver {

struct Stream::State {
  StreamSetup setup;
  std::mutex mutex;  // over everything below
  std::int64_t position = 0;
  std::unique_ptr<CompressedReader> decoded;  // made on the first read

  ~State() {
    if (setup.file != kNoFile) CloseFile(setup.file);
  }

  CompressedReader& Decoded() {
    if (!decoded)
      decoded = std::make_unique<CompressedReader>(setup.core->bytes, setup.offset,
                                                   setup.stored_length, setup.size, setup.name);
    return *decoded;
  }

  Status ReadLocked(std::int64_t at, std::uint8_t* out, std::size_t size, std::size_t& got) {
    if (size == 0) return {};
    if (at >= setup.size) {
      // Every other member checks its stream's end on the read that reaches it.
      if (setup.compressed && setup.size == 0) return Decoded().CheckEmpty();
      return {};
    }
    const auto left = static_cast<std::uint64_t>(setup.size - at);
    const std::size_t count = left < size ? static_cast<std::size_t>(left) : size;
    Status status;
    if (setup.compressed) {
      status = Decoded().Read(at, out, count);
    } else {
      const bool read =
          setup.core ? ReadArchiveBytes(setup.core->bytes, setup.offset + at, out, count)
                     : ReadFullAt(setup.file, out, count, at) == static_cast<std::int64_t>(count);
      if (!read) status = {Status::Code::kReadFailed, "cannot read " + ShownName(setup.name)};
    }
    if (status) got = count;
    return status;
  }
};

namespace {

Status NotOpen() {
  return {Status::Code::kNotOpen, "the stream is not open"};
}

}  // namespace

Stream::Stream() = default;
Stream::~Stream() = default;
Stream::Stream(Stream&&) noexcept = default;
Stream& Stream::operator=(Stream&&) noexcept = default;

bool Stream::is_open() const {
  return state_ != nullptr;
}

Status Stream::Read(std::uint8_t* out, std::size_t size, std::size_t& got) {
  got = 0;
  if (!state_) return NotOpen();
  std::lock_guard<std::mutex> lock(state_->mutex);
  Status status = state_->ReadLocked(state_->position, out, size, got);
  state_->position += static_cast<std::int64_t>(got);
  return status;
}

Status Stream::ReadAt(std::int64_t position, std::uint8_t* out, std::size_t size,
                      std::size_t& got) {
  got = 0;
  if (!state_) return NotOpen();
  if (position < 0) return {Status::Code::kBadPosition, "a position before the start"};
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->ReadLocked(position, out, size, got);
}

Status Stream::Seek(std::int64_t offset, Whence whence) {
  if (!state_) return NotOpen();
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::int64_t base = 0;
  switch (whence) {
    case Whence::kSet:
      break;
    case Whence::kCurrent:
      base = state_->position;
      break;
    case Whence::kEnd:
      base = state_->setup.size;
      break;
    default:
      return {Status::Code::kBadPosition, "no such origin"};
  }
  std::int64_t position = 0;
  if (__builtin_add_overflow(base, offset, &position) || position < 0)
    return {Status::Code::kBadPosition, "no such position"};
  state_->position = position;
  return {};
}

std::int64_t Stream::Tell() const {
  if (!state_) return 0;
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->position;
}

std::int64_t Stream::Size() const {
  return state_ ? state_->setup.size : 0;
}

void Stream::Close() {
  state_.reset();
}

Status Archive::OpenStream(std::size_t index, Stream& stream) const {
  stream.Close();
  auto state = std::make_unique<Stream::State>();
  Status status = MemberStreamSetup(state_ ? state_->core : nullptr, index, state->setup);
  if (status) stream.state_ = std::move(state);
  return status;
}

Status Mounts::OpenStream(std::string_view name, Stream& stream) const {
  stream.Close();
  auto state = std::make_unique<Stream::State>();
  Status status = MountedStreamSetup(*state_, name, state->setup);
  if (status) stream.state_ = std::move(state);
  return status;
}

}  // namespace quiver
