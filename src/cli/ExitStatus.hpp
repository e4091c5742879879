#pragma once
// The exit statuses of every command.

namespace kestrane::cli {

inline constexpr int kExitOK = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

}  // namespace kestrane::cli
