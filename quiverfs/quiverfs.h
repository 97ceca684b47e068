// The quiverfs program: archives and directories mounted as one read-only
// tree.
#pragma once

namespace quiver {

int RunQuiverfs(int argc, char** argv);

}  // namespace quiver
