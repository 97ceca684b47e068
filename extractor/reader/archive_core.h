// An open archive as the library holds it. The Archive, every mount that
// holds it and every stream open on it share it: the last of them to go
// closes the file, unmaps it or deletes the caller's source.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "archive_table.h"
#include "directory_tree.h"
#include "platform.h"
#include "quiver/reader.h"

namespace quiver {

struct ArchiveCore {
  ArchiveBytes bytes;
  ArchiveTable table;
  FileHandle owned_file = kNoFile;
  const std::uint8_t* mapping = nullptr;
  std::unique_ptr<PositionalReader> reader;  // over a caller's Source

  ArchiveCore() = default;
  ArchiveCore(const ArchiveCore&) = delete;
  ArchiveCore& operator=(const ArchiveCore&) = delete;
  ~ArchiveCore();

  bool compressed() const { return table.header.compressed != 0; }
  // Made on first use, which a listing, or most readers, never make. Exact
  // is null when the table is in key order with every key right, so a
  // binary search finds any name; otherwise the index to look names up in,
  // made on the first exact lookup.
  NameIndex* Exact() const;
  const LooseIndex& Loose() const;
  const DirectoryTree& Tree() const;

 private:
  mutable std::once_flag lookup_made_;
  mutable NameIndex index_;
  mutable std::once_flag loose_made_;
  mutable LooseIndex loose_;
  mutable std::once_flag tree_made_;
  mutable DirectoryTree tree_;
};

// FindLoose on an archive.
std::optional<std::size_t> FindLooseIn(const ArchiveCore& core, std::string_view name);

struct Archive::State {
  std::shared_ptr<const ArchiveCore> core;
};

// The parts of an open stream that Archive and Mounts set up.
struct StreamSetup {
  std::shared_ptr<const ArchiveCore> core;  // none for a mounted directory's file
  FileHandle file = kNoFile;                // that file, which the stream then owns
  std::int64_t offset = 0;                  // of the bytes in the archive
  std::int64_t stored_length = 0;
  std::int64_t size = 0;
  bool compressed = false;
  std::string name;  // for messages
};

// What Archive::OpenStream and Mounts::OpenStream open.
Status MemberStreamSetup(const std::shared_ptr<const ArchiveCore>& core, std::size_t index,
                         StreamSetup& setup);
Status MountedStreamSetup(const Mounts::State& state, std::string_view name, StreamSetup& setup);

}  // namespace quiver
