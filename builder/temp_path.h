// Where a member's compressed form waits until it is copied: beside the
// member, with "$" as the last character of its extension.
#pragma once

#include <string>

#include "platform.h"

namespace quiver {

// art\rock.bmp gives art\rock.bm$, main.c gives main.c$, makefile gives
// makefile.$; "\" and "/" both separate directories, a drive is kept.
std::string MakeTempPath(const char* source_path);

// Creates a new, empty file at `path`, or, when that name is taken, at a
// free variant beside it; never opens an existing file. Writes the name used
// into `created` (of `capacity` bytes) and returns the file open for
// writing, or kNoFile when no file could be created; `denied` then says
// whether the directory refused it (not writable, or read-only).
FileHandle CreateExclusiveFile(const std::string& path, char* created, std::size_t capacity,
                               bool& denied);

}  // namespace quiver
