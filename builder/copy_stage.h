// The compressed build's copy stage: every member's stored bytes, from its
// kept stream, its temporary file or the member itself, at its place in
// response-file order. A member's stream is copied as soon as it is
// recorded, while later members are still being compressed; a member
// stored raw is copied in the copy stage itself, after all compression, as
// before. A copy that failed early ends the run when the copy stage reaches
// it, so the transcript and the outcome are those of copying every member
// after all compression.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "build_run.h"
#include "platform.h"

namespace quiver {

// Before the first member is recorded.
void StartCopies();

// Member `i`, the next one recorded: its stream goes to its place unless a
// copy failed before or the archive would pass 2 GiB (which the offsets
// then report). `stream` is the whole stream when kept, else empty.
void CopyMember(std::int32_t i, const std::vector<std::uint8_t>& stream,
                std::vector<std::uint8_t>& copy_buffer);

// The streams of the `count` members from `first` on, which follow one
// another in the `file` they have from `from` on (the archive being
// replaced), that file as `checked`, go to their places as CopyMember's
// would, in one copy; those stored raw are then not copied again from
// their files in the copy stage. False, with
// nothing of them kept and nothing recorded, when those bytes could not be
// read or the file changed meanwhile; a run of several also on a write
// failure, so that member by member the failure is the member's own. A
// member whose copy fails is coded afresh.
bool CopyMembersFrom(std::int32_t first, std::int32_t count, FileHandle file,
                     const FileStatus& checked, std::int64_t from,
                     std::vector<std::uint8_t>& copy_buffer);

// Whether every member's stored bytes came from the archive being
// replaced, each at the offset it had there, and that archive, of
// `old_size` bytes, holds no more.
bool DataMirrorsOldArchive(std::int64_t old_size);

// The copy stage: members stored raw copied, the lines, and a copy's
// failure where it happened.
void ReportCopies(std::vector<std::uint8_t>& copy_buffer);

// The progress line for one member, in both kinds of build.
void ReportCopy(const char* source_path, std::int64_t size, std::int32_t to_go);

// Reports a member file that could not be read in full and ends the run.
[[noreturn]] void CopyReadError(const char* shown);
// Reports a member file that changed while its bytes were read and ends the run.
[[noreturn]] void ChangedWhileCopied(const char* shown);

}  // namespace quiver
