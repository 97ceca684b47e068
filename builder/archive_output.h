// Writing the archive. It is written to a new file beside its destination
// and renamed onto it only once complete, so a failed build never touches
// an existing archive and a rebuild never keeps an old file's tail.
#pragma once

#include <cstdint>
#include <vector>

namespace quiver {

// Creates the unfinished archive for build_run.dest_name and records it in
// build_run. False when the destination cannot be written (including a
// destination that exists but is not a regular file).
bool OpenArchiveOutput();

// The header and the table, at the start of the archive, through the copy
// buffer; the compressed build's copy stage then appends the members.
void WriteHeaderAndTable(std::vector<std::uint8_t>& copy_buffer);

// Closes the unfinished archive and renames it into place. False on failure,
// with the unfinished file still recorded for clean-up.
bool CommitArchive();

// Reports a failed write to the unfinished archive and ends the run.
[[noreturn]] void ArchiveWriteError();

}  // namespace quiver
