// quiverx's listings: the text the first version printed, and TSV or JSON
// for scripts.
#pragma once

#include "extractor_options.h"
#include "quiver/reader.h"

namespace quiver {

// Text: each member in table order with its stored size. TSV (with a header
// line) and JSON (one array): each member in table order with its name,
// original and stored lengths, whether compressed, key and offset.
void ListMembers(const Archive& archive, ListFormat format);

}  // namespace quiver
