#include "kestrane/ai/ModelClient.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <mutex>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kestrane/ai/ModelText.hpp"
#include "kestrane/ai/SecretRedaction.hpp"
#include "kestrane/ai/VerdictSchema.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/Utf8Text.hpp"
#include "kestrane/platform/HttpClient.hpp"
#include "kestrane/platform/ProcessRunner.hpp"

namespace kestrane::ModelClient {

namespace {

namespace fs = std::filesystem;

// The detection helpers (which, npm) are quick; they get a limit anyway, so that a broken npm
// cannot hold a job up.
constexpr double kHelperTimeout = 20;
constexpr int kQuoteLength = 300;

std::string lower(std::string_view text) {
  std::string out(text);
  std::ranges::transform(out, out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string utf8OrEmpty(std::string text) { return Utf8Text::isValid(text) ? text : std::string(); }

// The credentials the tool may have been given through the environment.
std::vector<std::string> secretsOf(const Environment& env) {
  std::vector<std::string> found;
  for (const char* name : {"ANTHROPIC_API_KEY", "ANTHROPIC_AUTH_TOKEN", "CLAUDE_CODE_OAUTH_TOKEN"}) {
    if (auto value = env(name)) {
      found.push_back(*value);
      found.emplace_back(ModelText::trim(*value));
    }
  }
  return found;
}

ModelError tooLarge() {
  return ModelError::apiFailed("the reply is larger than " + std::to_string(kMaxReplyBytes >> 20) +
                               " MB — too large to read");
}

std::string expandHome(const std::string& path, const Environment& env) {
  if (!path.starts_with("~")) return path;
  const auto home = env("HOME");
  return home ? *home + path.substr(1) : path;
}

bool isExecutableFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

// This process's environment with PATH replaced.
std::vector<std::string> environmentWithPath(const std::string& path) {
  return ProcessRunner::environmentWith("PATH", path);
}

// Runs a helper and returns its output, trimmed, when it exits 0 with non-blank UTF-8.
std::optional<std::string> helperOutput(const std::string& program, const std::vector<std::string>& args,
                                        const Environment& env) {
  ProcessRunner::Options o;
  o.executable = program;
  o.arguments = args;
  o.environment = environmentWithPath(env("PATH").value_or("/usr/bin:/bin"));
  o.timeout = ProcessRunner::Seconds(kHelperTimeout);
  try {
    const auto r = ProcessRunner::run(o);
    if (!r.succeeded() || !Utf8Text::isValid(r.standardOutput)) return std::nullopt;
    const std::string_view out = ModelText::trim(r.standardOutput);
    if (out.empty()) return std::nullopt;
    return std::string(out);
  } catch (const ProcessRunner::StartError&) {
    return std::nullopt;
  }
}

std::optional<std::string> which(const std::string& name, const Environment& env) {
  return helperOutput("/usr/bin/which", {name}, env);
}

std::optional<std::string> npmGlobalPrefix(const Environment& env) {
  std::vector<std::string> candidates;
  if (auto npm = which("npm", env)) candidates.push_back(*npm);
  for (const char* p : {"/opt/homebrew/bin/npm", "/usr/local/bin/npm", "~/.npm-global/bin/npm"}) {
    candidates.push_back(expandHome(p, env));
  }
  for (const std::string& npm : candidates) {
    if (!isExecutableFile(npm)) continue;
    if (auto prefix = helperOutput(npm, {"config", "get", "prefix"}, env)) return prefix;
  }
  return std::nullopt;
}

std::string baseURLFrom(const Environment& env) {
  const auto configured = env("ANTHROPIC_BASE_URL");
  if (!configured || ModelText::trim(*configured).empty()) return std::string(kDefaultBaseURL);
  return std::string(ModelText::trim(*configured));
}

class CommandLineBackend : public AIBackend {
 public:
  CommandLineBackend(std::string path, Environment env) : path_(std::move(path)), env_(std::move(env)) {}

  std::string send(const ModelCall& call, std::stop_token stop) const override {
    const std::string out =
        runCLI(path_, call.prompt, arguments(call.form, call.tier), call.timeoutSeconds, env_, stop);
    if (call.form != ReplyForm::verdict) return out;
    // Unwrapped first: it refuses a reply nested too deep before anything else reads it. The
    // envelope's escapes are decoded there, and the verdict's are when it is read: a secret
    // spelled with either is taken out of what is returned.
    std::string answer = SecretRedaction::withoutSecretsInJson(unwrapCLIEnvelope(out), secretsOf(env_));
    // A reply cut off at its length limit is no answer, however much of it parses.
    try {
      const auto envelope = nlohmann::json::parse(out);
      if (envelope.is_object() && envelope.value("stop_reason", nlohmann::json()) == "max_tokens") {
        throw ModelError::apiFailed("the reply was cut off at its length limit (max_tokens)");
      }
    } catch (const nlohmann::json::exception&) {
    }
    return answer;
  }

 private:
  std::string path_;
  Environment env_;
};

class ApiBackend : public AIBackend {
 public:
  ApiBackend(std::string key, std::string baseURL) : key_(std::move(key)), baseURL_(std::move(baseURL)) {}

  std::string send(const ModelCall& call, std::stop_token stop) const override {
    std::string answer =
        runAPI(key_, baseURL_, call.prompt, call.apiModel.value_or(apiModel(call.tier)), call.maxTokens, stop);
    if (call.form != ReplyForm::verdict) return answer;
    // A verdict's escapes are decoded when it is read: the key spelled with them goes too.
    const std::vector<std::string> secrets = {key_};
    return SecretRedaction::withoutSecretsInJson(answer, secrets);
  }

 private:
  std::string key_;
  std::string baseURL_;
};

std::mutex& detectionLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

std::optional<std::string> processEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

std::shared_ptr<AIBackend> detectBackend() {
  static std::shared_ptr<AIBackend> cached;
  std::lock_guard guard(detectionLock());
  if (!cached) cached = findBackend(processEnvironment);
  return cached;
}

std::shared_ptr<AIBackend> findBackend(const Environment& env) {
  for (const char* place : {"/usr/local/bin/claude", "/opt/homebrew/bin/claude", "~/.npm-global/bin/claude",
                            "~/.claude/local/claude", "~/.local/bin/claude"}) {
    const std::string path = expandHome(place, env);
    if (isExecutableFile(path)) return commandLineBackend(path, env);
  }
  if (auto path = which("claude", env)) return commandLineBackend(*path, env);
  if (auto prefix = npmGlobalPrefix(env)) {
    const std::string path = *prefix + "/bin/claude";
    if (isExecutableFile(path)) return commandLineBackend(path, env);
  }
  if (auto raw = env("ANTHROPIC_API_KEY")) {
    if (auto key = cleanKey(*raw)) return apiBackend(*key, baseURLFrom(env));
  }
  return nullptr;
}

std::shared_ptr<AIBackend> commandLineBackend(std::string claudePath, Environment environment) {
  return std::make_shared<CommandLineBackend>(std::move(claudePath), std::move(environment));
}

std::shared_ptr<AIBackend> apiBackend(std::string key, std::string baseURL) {
  return std::make_shared<ApiBackend>(std::move(key), std::move(baseURL));
}

std::optional<std::string> cleanKey(std::string_view key) {
  const std::string_view trimmed = ModelText::trim(key);
  if (trimmed.empty()) return std::nullopt;
  for (unsigned char c : trimmed) {
    if (c < 0x20 || c == 0x7F) return std::nullopt;
  }
  if (ModelText::withoutControls(trimmed) != trimmed) return std::nullopt;
  return std::string(trimmed);
}

const char* apiModel(ModelTier tier) { return tier == ModelTier::fast ? "claude-haiku-4-5" : "claude-sonnet-5"; }

std::optional<std::string> cliModel(ModelTier tier) {
  if (tier == ModelTier::fast) return "claude-haiku-4-5";
  return std::nullopt;  // the tool's own default
}

std::vector<std::string> arguments(ReplyForm form, ModelTier tier) {
  std::vector<std::string> args = {"-p", "--output-format", form == ReplyForm::verdict ? "json" : "text", "--tools",
                                   ""};
  if (form == ReplyForm::composition) {
    args.push_back("--no-session-persistence");
    return args;
  }
  if (form == ReplyForm::verdict) {
    args.insert(args.end(), {"--no-session-persistence", "--json-schema", std::string(kVerdictSchema)});
  }
  if (auto model = cliModel(tier)) args.insert(args.end(), {"--model", *model});
  return args;
}

std::string runCLI(const std::string& claudePath, const std::string& prompt, const std::vector<std::string>& args,
                   double timeoutSeconds, const Environment& environment, std::stop_token stop) {
  ProcessRunner::Options o;
  o.executable = claudePath;
  o.arguments = args;
  o.input = prompt;
  o.timeout = ProcessRunner::Seconds(timeoutSeconds);
  o.outputLimit = kMaxReplyBytes;
  std::error_code ec;
  o.workingDirectory = fs::temp_directory_path(ec);
  if (ec) o.workingDirectory.reset();
  const std::string folder = fs::path(claudePath).parent_path().string();
  o.environment = environmentWithPath(
      folder + ":/opt/homebrew/bin:/usr/local/bin:" + environment("PATH").value_or("/usr/bin:/bin"));

  const ProcessRunner::Result r = ProcessRunner::run(o, stop);
  if (r.cancelled) throw Cancelled();
  if (r.timedOut) throw ModelError::timedOut(timeoutSeconds);
  const std::vector<std::string> secrets = secretsOf(environment);
  if (r.succeeded()) {
    if (r.outputTruncated) throw tooLarge();
    // The answer as received: only the secrets this program holds are taken out of it.
    return SecretRedaction::withoutSecrets(utf8OrEmpty(r.standardOutput), secrets);
  }

  const std::string err = SecretRedaction::redact(utf8OrEmpty(r.standardError), secrets);
  const std::string out = SecretRedaction::redact(utf8OrEmpty(r.standardOutput), secrets);
  const std::string combined = err + "\n" + out;
  if (isAuthFailure(combined)) throw ModelError::notSignedIn();
  if (auto detail = rateLimitDetail(combined)) throw ModelError::rateLimited(*detail);
  throw ModelError::cliFailed(r.exitCode, ModelText::trim(err).empty() ? out : err);
}

std::string runAPI(const std::string& key, const std::string& baseURL, const std::string& prompt,
                   const std::string& model, int maxTokens, std::stop_token stop) {
  std::string url = baseURL;
  while (url.ends_with('/')) url.pop_back();
  url += "/v1/messages";

  nlohmann::ordered_json body;
  body["model"] = model;
  body["max_tokens"] = maxTokens;
  body["messages"] = nlohmann::ordered_json::array({{{"role", "user"}, {"content", prompt}}});

  HttpClient::Request request;
  request.url = url;
  request.headers = {{"content-type", "application/json"}, {"x-api-key", key}, {"anthropic-version", "2023-06-01"}};
  request.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  request.timeoutSeconds = kRequestTimeout;
  request.maxReplyBytes = kMaxReplyBytes;

  HttpClient::Response response;
  try {
    response = HttpClient::send(request, stop);
  } catch (const HttpClient::Stopped&) {
    throw Cancelled();
  } catch (const HttpClient::ReplyTooLarge&) {
    throw tooLarge();
  }
  const std::vector<std::string> secrets = {key};
  if (response.status == 200) {
    nlohmann::json reply;
    try {
      reply = nlohmann::json::parse(response.body);
    } catch (const nlohmann::json::exception&) {
      throw ModelError::apiFailed("the reply is not JSON");
    }
    const auto content = reply.is_object() ? reply.find("content") : reply.end();
    if (!reply.is_object() || content == reply.end() || !content->is_array() ||
        !std::ranges::all_of(*content, [](const auto& block) { return block.is_object(); })) {
      throw ModelError::apiFailed("unexpected response shape");
    }
    if (reply.value("stop_reason", nlohmann::json()) == "max_tokens") {
      throw ModelError::apiFailed("the reply was cut off at its length limit (max_tokens)");
    }
    std::string text;
    for (const auto& block : *content) {
      const auto t = block.find("text");
      if (t != block.end() && t->is_string()) text += t->get<std::string>();
    }
    // The answer as received: only the key is taken out of it.
    return SecretRedaction::withoutSecrets(text, secrets);
  }
  // A failure's text is shown and stored: it loses the key and anything shaped like a credential.
  response.body = SecretRedaction::redact(response.body, secrets);
  for (auto& header : response.headers) header.second = SecretRedaction::redact(header.second, secrets);
  if (response.status == 429) {
    std::string detail;
    if (auto after = response.header("retry-after")) {
      char* end = nullptr;
      const std::string value(ModelText::trim(*after));
      const double s = std::strtod(value.c_str(), &end);
      if (!value.empty() && end == value.c_str() + value.size() && std::isfinite(s) && std::abs(s / 60) < 9.2e18) {
        detail = "resets in ~" + std::to_string(static_cast<long long>(std::ceil(s / 60))) + " min";
      }
    }
    throw ModelError::rateLimited(detail);
  }
  throw ModelError::apiFailed(
      "HTTP " + std::to_string(response.status) + ": " +
      std::string(ModelText::trim(ModelText::prefix(utf8OrEmpty(response.body), kQuoteLength))));
}

std::string unwrapCLIEnvelope(const std::string& raw) {
  // The answer is written back out recursively, so a reply nested without end would exhaust
  // the stack; the envelope adds one level to the deepest verdict.
  if (ModelText::nestsDeeperThan(raw, ModelText::kDeepestVerdict + 1)) {
    throw ModelError::apiFailed(
        fmt::format("the reply nests deeper than {} levels — no verdict is that deep", ModelText::kDeepestVerdict));
  }
  nlohmann::json envelope;
  try {
    envelope = nlohmann::json::parse(raw);
  } catch (const nlohmann::json::exception&) {
    return raw;
  }
  if (!envelope.is_object()) return raw;
  for (const char* key : {"structured_output", "structured_result"}) {
    const auto member = envelope.find(key);
    if (member != envelope.end() && member->is_structured()) return member->dump();
  }
  const auto result = envelope.find("result");
  if (result == envelope.end()) return raw;
  if (result->is_string()) return result->get<std::string>();
  if (result->is_structured()) return result->dump();
  return raw;
}

bool isAuthFailure(std::string_view output) {
  const std::string text = lower(output);
  auto has = [&text](std::string_view s) { return text.find(s) != std::string::npos; };
  return has("failed to authenticate") || (has("oauth") && (has("expired") || has("revoked"))) ||
         has("please run /login") || has("run `claude login`");
}

std::optional<std::string> rateLimitDetail(std::string_view output) {
  const std::string text = lower(output);
  if (text.find("usage limit") == std::string::npos && text.find("rate limit") == std::string::npos &&
      text.find("rate_limit") == std::string::npos) {
    return std::nullopt;
  }
  std::size_t start = 0;
  while (start <= output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string_view::npos) end = output.size();
    const std::string_view line = output.substr(start, end - start);
    if (!line.empty() && lower(line).find("reset") != std::string::npos) {
      std::size_t b = 0, e = line.size();
      while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
      while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
      return std::string(line.substr(b, e - b));
    }
    start = end + 1;
  }
  const std::size_t bar = output.find('|');
  if (bar == std::string_view::npos) return std::string();
  std::size_t digitsEnd = bar + 1;
  while (digitsEnd < output.size() && std::isdigit(static_cast<unsigned char>(output[digitsEnd]))) ++digitsEnd;
  const std::string digits(output.substr(bar + 1, digitsEnd - bar - 1));
  if (digits.empty() || digits.size() > 15) return std::string();
  const double epoch = std::stod(digits);
  if (!(epoch > 1'000'000'000)) return std::string();
  const std::time_t when = static_cast<std::time_t>(epoch);
  std::tm local{};
  if (!::localtime_r(&when, &local)) return std::string();
  char buffer[32];
  if (std::strftime(buffer, sizeof buffer, "%H:%M", &local) == 0) return std::string();
  return "resets around " + std::string(buffer);
}

}  // namespace kestrane::ModelClient
