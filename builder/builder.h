#pragma once

namespace quiver {

// The whole quiver program: returns its exit status on success and ends the
// process itself on every failure.
int RunBuilder(int argc, char** argv);

}  // namespace quiver
