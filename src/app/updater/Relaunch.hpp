#pragma once
// Starting the freshly installed program once this one has quit. No shell is involved: the
// executable and its arguments are passed as they are, so no path can run anything else.
#include <filesystem>
#include <string>
#include <vector>

namespace kestrane::updater {

// Starts `executable` with `arguments` in a session of its own, told (through the environment)
// to wait for this process to end before it opens its window. Throws std::system_error when the
// program cannot be started.
void launchAfterExit(const std::filesystem::path& executable, const std::vector<std::string>& arguments);

// Called early by a relaunched program: waits (at most a few seconds) until the process that
// started it has ended, so two windows never overlap.
void waitForReplacedInstance();

}  // namespace kestrane::updater
