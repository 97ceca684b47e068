#include "archive_check.h"

#include <optional>
#include <string>

#include "ahead_of_order.h"
#include "member_path.h"
#include "name_crc.h"
#include "shown_name.h"
#include "standard_output.h"
#include "worker_pool.h"

namespace quiver {
namespace {

// Why member `index` would not extract, or "" when it would.
std::string Problem(const Archive& archive, std::size_t index) {
  const MemberInfo info = archive.member(index);
  if (const char* reason = UnsafeNameReason(info.name))
    return std::string("unsafe name (") + reason + ")";
  const Status status =
      archive.ReadChunks(index, [](const std::uint8_t*, std::size_t) { return true; });
  if (status) return "";
  return status.code() == Status::Code::kDecompression ? "decompression error"
                                                       : "read error in quiver";
}

bool InKeyOrder(const Archive& archive) {
  for (std::size_t i = 0; i < archive.size(); ++i) {
    const MemberInfo info = archive.member(i);
    if (info.key != NameCrc(info.name)) return false;
    if (i > 0 && archive.member(i - 1).key > info.key) return false;
  }
  return true;
}

}  // namespace

bool TestArchive(const Archive& archive, bool quiet, int threads) {
  std::optional<WorkerPool> pool;
  std::optional<AheadOfOrder<std::string>> ahead;
  if (threads > 1 && archive.size() > 1) {
    pool.emplace(threads);
    ahead.emplace(
        *pool, archive.size(), 8 * static_cast<std::size_t>(pool->threads()),
        [&archive](std::size_t i) { return Problem(archive, i); }, [](std::string&) {});
  }
  std::size_t failed = 0;
  for (std::size_t i = 0; i < archive.size(); ++i) {
    const std::string problem = ahead ? ahead->Take() : Problem(archive, i);
    const std::string shown = ShownName(archive.member(i).name);
    if (!problem.empty()) {
      ++failed;
      Print("%s - %s.\n", shown.c_str(), problem.c_str());
    } else if (!quiet) {
      Print("%s - ok.\n", shown.c_str());
    }
  }
  if (!InKeyOrder(archive) && !quiet)
    Print("Note: the table is not in key order; names are found by a slower lookup.\n");
  if (failed > 0 || !quiet) Print("Tested %zu members: %zu failed.\n", archive.size(), failed);
  return failed == 0;
}

}  // namespace quiver
