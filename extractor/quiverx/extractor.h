#pragma once

namespace quiver {

// The whole quiverx program; returns its exit status.
int RunExtractor(int argc, char** argv);

}  // namespace quiver
