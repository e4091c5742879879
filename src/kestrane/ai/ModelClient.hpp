#pragma once
// Reaching the AI model from this computer: finding the vendor's `claude` command-line tool or
// an API key, and sending one prompt through either. Every call is one prompt in and one text
// out; nothing is remembered between calls except a found backend.
//
// The prompt never goes on a command line: the tool reads it on standard input, the HTTP route
// sends it in the request body. The API key travels only in its request header.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/ai/AIBackend.hpp"
#include "kestrane/ai/ModelError.hpp"

namespace kestrane::ModelClient {

// Reads one environment variable; nothing when it is not set.
using Environment = std::function<std::optional<std::string>(const std::string&)>;
std::optional<std::string> processEnvironment(const std::string& name);

// Where the HTTP route sends its requests when ANTHROPIC_BASE_URL does not say otherwise.
inline constexpr std::string_view kDefaultBaseURL = "https://api.anthropic.com";
inline constexpr double kRequestTimeout = 300;
// A verdict or a composition is a few hundred KB at most; a reply beyond this is not read.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{2} << 20;

// The backend of this process's environment, found once and then kept for the life of the
// process; a miss is looked for again on the next call. Safe from any thread.
std::shared_ptr<AIBackend> detectBackend();
// The same search without the cache: the tool at its usual places, on PATH or in npm's global
// folder first, then ANTHROPIC_API_KEY.
std::shared_ptr<AIBackend> findBackend(const Environment& environment);

std::shared_ptr<AIBackend> commandLineBackend(std::string claudePath, Environment environment);
std::shared_ptr<AIBackend> apiBackend(std::string key, std::string baseURL);

// The key as it is to be sent: trimmed; nothing when empty or when it still holds a control
// character.
std::optional<std::string> cleanKey(std::string_view key);

const char* apiModel(ModelTier tier);
std::optional<std::string> cliModel(ModelTier tier);

// The tool's arguments for a reply form and tier.
std::vector<std::string> arguments(ReplyForm form, ModelTier tier);

// Runs the tool with the prompt on standard input. The tool's folder and the usual tool
// folders go before PATH. Throws ModelError, ProcessRunner::StartError or Cancelled. What the
// tool prints is capped; a success is returned as printed less the credentials of the
// environment, a failure's text loses anything shaped like a credential too (SecretRedaction).
std::string runCLI(const std::string& claudePath, const std::string& prompt, const std::vector<std::string>& arguments,
                   double timeoutSeconds, const Environment& environment, std::stop_token stop = {});

// One POST to baseURL + "/v1/messages". Throws ModelError, HttpClient::TransportError or
// Cancelled. The reply is capped; its text is returned as received less the key, and a
// failure's text loses anything shaped like a credential too.
std::string runAPI(const std::string& key, const std::string& baseURL, const std::string& prompt,
                   const std::string& model, int maxTokens, std::stop_token stop = {});

// The answer inside the tool's JSON envelope, or the text unchanged when there is none.
// Throws ModelError (a failed reply) when the text nests deeper than any verdict can.
std::string unwrapCLIEnvelope(const std::string& raw);

// Classifiers of the tool's output on failure.
bool isAuthFailure(std::string_view output);
std::optional<std::string> rateLimitDetail(std::string_view output);

}  // namespace kestrane::ModelClient
