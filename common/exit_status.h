// The statuses both programs end with, for scripts to trust.
#pragma once

namespace quiver {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The builder's failures inside the bit output stream.
inline constexpr int kExitReportError = 255;

}  // namespace quiver
