#include "kestrane/graphics/HyperFramesRenderer.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>

#include "kestrane/graphics/GraphicsPrompt.hpp"
#include "kestrane/graphics/VisualIdeas.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/FrameSequenceEncoder.hpp"
#include "kestrane/platform/ProcessRunner.hpp"

extern char** environ;

namespace kestrane {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view localGSAPName = "gsap.min.js";

std::string trimmedHorizontal(std::string_view line) {
  const auto first = line.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = line.find_last_not_of(" \t\r");
  return std::string(line.substr(first, last - first + 1));
}

// Without terminal colour and cursor sequences (ESC [ digits/semicolons letter).
std::string withoutEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      std::size_t j = i + 2;
      while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == ';')) ++j;
      if (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) {
        i = j;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1)
    out.emplace_back(text.substr(start, end - start));
  out.emplace_back(text.substr(start));
  return out;
}

// A line that reports a non-zero count of errors, warnings, issues or failures.
bool countsSomething(std::string_view line) {
  std::string lower(line);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("error") == std::string::npos && lower.find("warning") == std::string::npos &&
      lower.find("issue") == std::string::npos && lower.find("fail") == std::string::npos)
    return false;
  std::string run;
  for (char c : lower) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      run.push_back(c);
    } else if (!run.empty()) {
      if (run.find_first_not_of('0') != std::string::npos) return true;
      run.clear();
    }
  }
  return lower.find(" 0 ") == std::string::npos;
}

std::string stripMarks(const std::string& line) {
  static const std::vector<std::string> marks{"◇", "◆", "✗", "•", "-", " "};
  std::string s = line;
  for (bool changed = true; changed;) {
    changed = false;
    for (const auto& m : marks) {
      if (s.starts_with(m)) s.erase(0, m.size()), changed = true;
      if (s.ends_with(m)) s.erase(s.size() - m.size()), changed = true;
    }
  }
  return s;
}

std::vector<std::string> parentEnvironment() {
  std::vector<std::string> out;
  for (char** e = environ; e && *e; ++e) out.emplace_back(*e);
  return out;
}

bool isExecutable(const fs::path& p) {
  std::error_code error;
  return fs::is_regular_file(p, error) && ::access(p.c_str(), X_OK) == 0;
}

bool probeIsolation(std::vector<std::string> unshareArguments) {
  ProcessRunner::Options probe;
  probe.executable = "/usr/bin/unshare";
  probe.arguments = std::move(unshareArguments);
  probe.arguments.insert(probe.arguments.end(), {"--", "/usr/sbin/ip", "link", "set", "lo", "up"});
  probe.timeout = ProcessRunner::Seconds{10};
  try {
    return ProcessRunner::run(probe).succeeded();
  } catch (const ProcessRunner::StartError&) {
    return false;
  }
}

// The unshare switches that give the child a network of its own with loopback up.
std::vector<std::string> isolationArguments(HyperFrames::NetworkIsolation isolation) {
  switch (isolation) {
    case HyperFrames::NetworkIsolation::networkNamespace: return {"--net"};
    case HyperFrames::NetworkIsolation::userNamespace: return {"--user", "--map-root-user", "--net"};
    case HyperFrames::NetworkIsolation::none: break;
  }
  return {};
}

ProcessRunner::Result runTool(const HyperFramesSettings& settings, const fs::path& folder,
                              std::vector<std::string> arguments, double timeout, std::stop_token stop) {
  ProcessRunner::Options options;
  options.executable = settings.npx;
  arguments.insert(arguments.begin(), {"--yes", settings.packageSpec});
  options.arguments = std::move(arguments);
  const auto isolation = HyperFrames::networkIsolation();
  if (isolation == HyperFrames::NetworkIsolation::none) throw RenderError(std::string(HyperFrames::noIsolationReason));
  // unshare, then loopback up, then the tool itself: a sh with fixed text and the tool's
  // arguments passed as its own.
  std::vector<std::string> wrapper = isolationArguments(isolation);
  wrapper.insert(wrapper.end(),
                 {"--", "/bin/sh", "-c", "/usr/sbin/ip link set lo up && exec \"$0\" \"$@\"", settings.npx.string()});
  options.arguments.insert(options.arguments.begin(), wrapper.begin(), wrapper.end());
  options.executable = "/usr/bin/unshare";
  options.environment = HyperFrames::childEnvironment(parentEnvironment(), settings.npx);
  options.workingDirectory = folder;
  options.timeout = ProcessRunner::Seconds{timeout};
  ProcessRunner::Result result = ProcessRunner::run(options, stop);
  if (result.cancelled) throw Cancelled();
  if (result.timedOut)
    throw RenderError::captureFailed("timed out after " + std::to_string(static_cast<long long>(timeout)) + "s");
  return result;
}

}  // namespace

struct HyperFramesRenderer::Claims {
  std::mutex mutex;
  std::set<std::string> names;
};

HyperFramesRenderer::HyperFramesRenderer(HyperFramesSettings settings)
    : settings_(std::move(settings)), claims_(std::make_shared<Claims>()) {}

// "<slug>-MM-SS"; a second idea of the same name and second in this run gets "-2", and so on,
// so two renders never share a folder.
fs::path HyperFramesRenderer::claimFolder(const VisualIdea& idea) const {
  std::string base = VisualIdeas::slug(idea.name) + "-" + VisualIdeas::timecodeSlug(idea.placementSeconds);
  std::lock_guard lock(claims_->mutex);
  std::string name = base;
  for (int n = 2; !claims_->names.insert(name).second; ++n) name = base + "-" + std::to_string(n);
  return settings_.workRoot / name;
}

std::vector<std::string> HyperFramesRenderer::render(const std::string& html, const VisualIdea& idea,
                                                     const GraphicsCanvas& canvas, const fs::path& destination,
                                                     std::stop_token stop) const {
  if (HyperFrames::networkIsolation() == HyperFrames::NetworkIsolation::none)
    throw RenderError(std::string(HyperFrames::noIsolationReason));
  const fs::path folder = claimFolder(idea);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder);
  const bool localGSAP = settings_.gsapScript.has_value();
  if (localGSAP) fs::copy_file(*settings_.gsapScript, folder / localGSAPName);
  AtomicFile::write(folder / "index.html", HyperFrames::workCopy(html, localGSAP));

  std::vector<std::string> notes;
  try {
    const auto check = runTool(settings_, folder, {"check", "."}, settings_.checkTimeout, stop);
    if (check.exitCode != 0 || check.signalled)
      notes.push_back(idea.name + ": composition check — " +
                      HyperFrames::checkSummary(check.standardOutput + "\n" + check.standardError));
  } catch (const RenderError&) {
  } catch (const ProcessRunner::StartError&) {
  }

  const auto [wanted, times] = HyperFrames::frameTimes(idea.durationSeconds, canvas.fps);
  const fs::path frames = fs::absolute(folder / "frames");
  const auto capture = runTool(settings_, folder, {"snapshot", ".", "--at", times, "--no-end", "-o", frames.string()},
                               settings_.captureTimeout, stop);
  if (!capture.succeeded())
    throw RenderError::captureFailed(
        HyperFrames::firstMeaningfulLine(capture.standardError + "\n" + capture.standardOutput));

  const auto files = HyperFrames::orderedFrames(frames);
  if (files.empty()) throw RenderError("frame capture produced no frames");
  if (static_cast<int>(files.size()) < wanted) {
    char shortBy[32];
    std::snprintf(shortBy, sizeof shortBy, "%.2f",
                  static_cast<double>(wanted - static_cast<int>(files.size())) / canvas.fps);
    notes.push_back(idea.name + ": captured " + std::to_string(files.size()) + " of " + std::to_string(wanted) +
                    " frames — the piece is short by " + shortBy + "s");
  }
  FrameSequenceEncoder::encode(
      files, {destination, canvas.fps, canvas.width, canvas.height, idea.kind == GraphicKind::alphaOverlay}, stop);
  return notes;
}

namespace HyperFrames {

// Root (or a process allowed to) gets a plain network namespace; an ordinary account gets one
// inside a user namespace of its own, which Debian allows unprivileged users.
NetworkIsolation networkIsolation() {
  static const NetworkIsolation found = [] {
    if (!isExecutable("/usr/bin/unshare") || !isExecutable("/usr/sbin/ip")) return NetworkIsolation::none;
    for (const NetworkIsolation isolation : {NetworkIsolation::networkNamespace, NetworkIsolation::userNamespace}) {
      if (probeIsolation(isolationArguments(isolation))) return isolation;
    }
    return NetworkIsolation::none;
  }();
  return found;
}

std::optional<fs::path> detectNPX() {
  const char* home = std::getenv("HOME");
  std::vector<fs::path> candidates{"/usr/local/bin/npx"};
  if (home && *home) {
    candidates.push_back(fs::path(home) / ".npm-global/bin/npx");
    candidates.push_back(fs::path(home) / ".volta/bin/npx");
  }
  for (const auto& c : candidates)
    if (isExecutable(c)) return c;
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "";
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const fs::path dir(rest.substr(0, colon));
    if (!dir.empty() && isExecutable(dir / "npx")) return dir / "npx";
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

std::optional<fs::path> detectGSAP(const fs::path& npx) {
  const fs::path file = npx.parent_path().parent_path() / "lib/node_modules/gsap/dist/gsap.min.js";
  std::error_code error;
  if (fs::is_regular_file(file, error)) return file;
  return std::nullopt;
}

std::pair<int, std::string> frameTimes(double durationSeconds, int fps) {
  const int count = std::max(1, static_cast<int>(std::lround(durationSeconds * fps)));
  std::string joined;
  char time[32];
  for (int i = 0; i < count; ++i) {
    std::snprintf(time, sizeof time, "%.4f", static_cast<double>(i) / fps);
    if (i > 0) joined += ',';
    joined += time;
  }
  return {count, joined};
}

std::vector<fs::path> orderedFrames(const fs::path& folder) {
  std::vector<std::pair<long long, fs::path>> found;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string extension = it->path().extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".png") continue;
    const std::string name = it->path().filename().string();
    const auto at = name.find("frame-");
    if (at == std::string::npos) continue;
    std::size_t digits = at + 6;
    while (digits < name.size() && std::isdigit(static_cast<unsigned char>(name[digits]))) ++digits;
    if (digits == at + 6 || digits - at - 6 > 18) continue;
    found.emplace_back(std::stoll(name.substr(at + 6, digits - at - 6)), it->path());
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<fs::path> out;
  for (auto& f : found) out.push_back(std::move(f.second));
  return out;
}

std::string checkSummary(std::string_view output) {
  std::string heading;
  std::vector<std::string> findings;
  for (const std::string& raw : lines(withoutEscapes(output))) {
    const std::string line = trimmedHorizontal(raw);
    if (line.empty() || line.starts_with("[INFO]") || line.starts_with("npm warn")) continue;
    if (line.find(' ') == std::string::npos && std::isupper(static_cast<unsigned char>(line[0]))) {
      heading = line;
      continue;
    }
    if (!countsSomething(line)) continue;
    const std::string finding = stripMarks(line);
    findings.push_back(heading.empty() ? finding : heading + ": " + finding);
  }
  if (findings.empty()) return "the validator reported findings (no detail printed)";
  std::string summary;
  for (std::size_t i = 0; i < findings.size() && i < 4; ++i) summary += (i > 0 ? "; " : "") + findings[i];
  return summary.substr(0, 300);
}

std::string firstMeaningfulLine(std::string_view output) {
  for (const std::string& raw : lines(withoutEscapes(output))) {
    const std::string line = trimmedHorizontal(raw);
    if (line.empty() || line.starts_with("npm warn")) continue;
    return line.substr(0, 200);
  }
  return "no detail reported";
}

constexpr std::size_t kLongestTemporaryFolder = 24;

namespace {

// What the toolchain is allowed to see of the user's environment: where things are, how text
// is written, the display, and the switches of npm, the renderer and its browser. Anything else
// (keys, cloud credentials, agent sockets) never reaches it.
bool passesToTool(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (std::string_view secret : {"KEY", "TOKEN", "SECRET", "PASSWORD", "PASSWD", "AUTH", "CREDENTIAL"})
    if (upper.find(secret) != std::string::npos) return false;
  static constexpr std::array<std::string_view, 9> exact{"HOME",
                                                         "TMPDIR",
                                                         "LANG",
                                                         "LANGUAGE",
                                                         "TZ",
                                                         "DISPLAY",
                                                         "WAYLAND_DISPLAY",
                                                         "XDG_RUNTIME_DIR",
                                                         "PRODUCER_HEADLESS_SHELL_PATH"};
  for (std::string_view allowed : exact)
    if (name == allowed) return true;
  for (std::string_view prefix : {"LC_", "HYPERFRAMES_", "PUPPETEER_", "npm_config_", "NPM_CONFIG_"})
    if (name.starts_with(prefix)) return true;
  return false;
}

constexpr std::string_view kAddressEnds = "/?#,; \t";

// An address handed on loses its user name and password ("https://me:pw@host/" becomes
// "https://host/"): a registry or proxy password is no business of the toolchain's.
std::string withoutCredentials(std::string_view value) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t scheme = value.find("://"); scheme != std::string_view::npos; scheme = value.find("://", from)) {
    const std::size_t host = scheme + 3;
    std::size_t end = host;
    while (end < value.size() && kAddressEnds.find(value[end]) == std::string_view::npos) ++end;
    const std::size_t at = value.substr(host, end - host).rfind('@');
    out.append(value.substr(from, host - from));
    from = at == std::string_view::npos ? host : host + at + 1;
  }
  out.append(value.substr(from));
  return out;
}

// A proxy may be given without a scheme ("me:pw@proxy:3128"), which npm and the browser take
// as an address all the same: each such entry loses what comes before the host too.
std::string proxyWithoutCredentials(std::string_view value) {
  std::string out;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find_first_of(",; \t", start);
    if (end == std::string_view::npos) end = value.size();
    std::string_view entry = value.substr(start, end - start);
    if (entry.find("://") == std::string_view::npos) {
      const std::size_t at = entry.substr(0, entry.find_first_of(kAddressEnds)).rfind('@');
      if (at != std::string_view::npos) entry.remove_prefix(at + 1);
      out.append(entry);
    } else {
      out.append(withoutCredentials(entry));
    }
    if (end == value.size()) break;
    out.push_back(value[end]);
    start = end + 1;
  }
  return out;
}

bool namesAProxy(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("proxy") != std::string::npos;
}

}  // namespace

std::vector<std::string> childEnvironment(const std::vector<std::string>& parent, const fs::path& npx) {
  std::vector<std::string> out;
  std::optional<std::string> path;
  for (const std::string& entry : parent) {
    const std::string name = entry.substr(0, entry.find('='));
    if (name == "PATH") path = entry.substr(5);
    // Set below, whatever the user's value.
    if (name == "PATH" || name == "HYPERFRAMES_SKIP_SKILLS" || name == "DO_NOT_TRACK" ||
        name == "npm_config_prefer_offline" || !passesToTool(name))
      continue;
    // Chromium keeps sockets in its profile under TMPDIR, and a socket path holds at most 107
    // bytes: a deep temporary folder makes the browser fail to start.
    if (name == "TMPDIR" && entry.size() - 7 > kLongestTemporaryFolder) {
      out.push_back("TMPDIR=/tmp");
      continue;
    }
    if (name.size() == entry.size()) {
      out.push_back(entry);
      continue;
    }
    const std::string_view value = std::string_view(entry).substr(name.size() + 1);
    out.push_back(name + "=" + (namesAProxy(name) ? proxyWithoutCredentials(value) : withoutCredentials(value)));
  }
  // npx and the tool start Node by name, so npx's own folder comes first: its Node runs.
  out.push_back("PATH=" + npx.parent_path().string() + ":/usr/local/bin:" + path.value_or("/usr/bin:/bin"));
  out.push_back("HYPERFRAMES_SKIP_SKILLS=1");
  out.push_back("CI=1");
  out.push_back("DO_NOT_TRACK=1");
  out.push_back("npm_config_prefer_offline=true");
  out.push_back("ONNXRUNTIME_NODE_INSTALL=skip");
  return out;
}

std::string workCopy(std::string_view html, bool localGSAP) {
  std::string out(html);
  if (!localGSAP) return out;
  const std::string_view url = GraphicsPrompt::gsapScriptURL;
  for (auto at = out.find(url); at != std::string::npos; at = out.find(url, at + localGSAPName.size()))
    out.replace(at, url.size(), localGSAPName);
  return out;
}

}  // namespace HyperFrames
}  // namespace kestrane
