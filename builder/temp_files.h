// The members' temporary files under -c and -s, each made or taken over
// only under a name that no file holds, and recorded in its StageEntry at
// once, so that clean-up removes exactly the files this run made.
#pragma once

#include <cstdint>

#include "build_run.h"
#include "platform.h"

namespace quiver {

// The member's temporary file, open for writing and empty: beside the
// member, or beside the archive when the member's directory may not be
// written (a read-only tree); kNoFile when neither can be made. A spent
// file is renamed for it where it can be, since on some file systems
// making a file costs far more than renaming one.
FileHandle TakeTempFile(StageEntry& stage);

// The member's stream is in the archive: its temporary file, still open,
// may serve a later member.
void SpendTempFile(std::int32_t member, FileHandle file);

// Closes the spent files that are still open, before they are removed.
void CloseSpentTempFiles();

}  // namespace quiver
