#pragma once
// Renders one authored composition to its movie with the HyperFrames toolchain: a validation
// pass whose findings become a note, a frame capture of one PNG per frame time, then our own
// encoder. Runs through npx in a work folder of its own, with no network: the render's copy of
// the composition loads GSAP from a file beside it, the child's environment keeps npm on its
// cache, turns telemetry off and passes only an allow-list of the user's variables, and the
// toolchain runs in a network namespace with only loopback up: a plain one where this process
// may make it, else one inside an unprivileged user namespace. Where neither can be made it
// does not run at all: a composition is the model's text, and no reading of it can tell where
// its script will reach once it runs.
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/graphics/GraphicsCanvas.hpp"
#include "kestrane/graphics/VisualIdea.hpp"
#include "kestrane/model/UserFacingError.hpp"

namespace kestrane {

class RenderError : public UserFacingError {
 public:
  using UserFacingError::UserFacingError;
  static RenderError captureFailed(const std::string& detail) { return RenderError("frame capture failed: " + detail); }
};

struct HyperFramesSettings {
  std::filesystem::path workRoot;  // owned by the caller, who removes it after the run
  std::filesystem::path npx;
  std::string packageSpec = "hyperframes@0.7.71";
  double captureTimeout = 900;  // seconds
  double checkTimeout = 180;
  std::optional<std::filesystem::path> gsapScript;  // the local copy of the contract's GSAP
};

class HyperFramesRenderer {
 public:
  explicit HyperFramesRenderer(HyperFramesSettings settings);

  // Writes the movie at `destination` (container by the idea's kind) and returns the notes:
  // the validation note, then the short-capture note, each only when it arises. Throws
  // RenderError without running anything where no network namespace can be made.
  std::vector<std::string> render(const std::string& html, const VisualIdea& idea, const GraphicsCanvas& canvas,
                                  const std::filesystem::path& destination, std::stop_token stop = {}) const;

  const HyperFramesSettings& settings() const { return settings_; }

 private:
  std::filesystem::path claimFolder(const VisualIdea& idea) const;

  HyperFramesSettings settings_;
  struct Claims;
  std::shared_ptr<Claims> claims_;
};

namespace HyperFrames {

// How the toolchain is kept off the network: a network namespace of its own (root), one inside
// an unprivileged user namespace (an ordinary account), or not at all where neither can be made.
enum class NetworkIsolation { none, networkNamespace, userNamespace };
// Probed once per process.
NetworkIsolation networkIsolation();
// Why nothing renders where the probe finds no isolation, and what would allow it.
inline constexpr std::string_view noIsolationReason =
    "this computer can't give the renderer a network of its own (unshare), and a composition is never rendered "
    "where it could reach the network; run where unprivileged user namespaces are allowed, or as root, to render "
    "graphics";

// The first of /usr/local/bin/npx, ~/.npm-global/bin/npx and ~/.volta/bin/npx that is an
// executable file, else npx on PATH.
std::optional<std::filesystem::path> detectNPX();
// GSAP installed beside the Node that npx runs.
std::optional<std::filesystem::path> detectGSAP(const std::filesystem::path& npx);

// "0.0000,0.0333,..." for duration x fps frames (rounded, at least 1).
std::pair<int, std::string> frameTimes(double durationSeconds, int fps);
// The frame-N PNG files of a folder in frame order.
std::vector<std::filesystem::path> orderedFrames(const std::filesystem::path& folder);
// The digest of the validator's output.
std::string checkSummary(std::string_view output);
// The one line of a tool's noisy output worth quoting, at most 200 characters.
std::string firstMeaningfulLine(std::string_view output);
// `parent` ("NAME=value" entries) as the toolchain sees it: only an allow-list passes, plus
// the offline and telemetry switches.
std::vector<std::string> childEnvironment(const std::vector<std::string>& parent, const std::filesystem::path& npx);
// The render's copy of a composition: the contract's GSAP address becomes the local file.
std::string workCopy(std::string_view html, bool localGSAP);

}  // namespace HyperFrames
}  // namespace kestrane
