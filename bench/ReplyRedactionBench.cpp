// Every reply of the model passes through the secret redaction before anything reads it. A
// reply at the 2 MB cap, holding a few credentials among ordinary prose and JSON, must cost
// next to nothing beside the model's own seconds: the work is linear in the reply.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "kestrane/ai/ModelClient.hpp"
#include "kestrane/ai/SecretRedaction.hpp"

namespace {

using namespace kestrane;

std::string replyAtTheCap(const std::string& key) {
  const std::string prose =
      "{\"index\":12,\"category\":\"offScript\",\"reason\":\"A bearer of news skips the "
      "sk-line and the task-0123456789 log.\",\"confidence\":0.8},\n";
  std::string reply;
  reply.reserve(ModelClient::kMaxReplyBytes);
  int n = 0;
  while (reply.size() + prose.size() + 128 < ModelClient::kMaxReplyBytes) {
    reply += prose;
    if (++n % 2000 == 0) reply += "Authorization: Bearer abc123def456ghi789 " + key + " sk-ant-0123456789abcdef\n";
  }
  return reply;
}

void BM_RedactAReplyAtTheCap(benchmark::State& state) {
  const std::vector<std::string> secrets = {"kx-live-0123456789abcdef", "env-token-0123456789"};
  const std::string reply = replyAtTheCap(secrets[0]);
  for (auto _ : state) {
    benchmark::DoNotOptimize(SecretRedaction::redact(reply, secrets));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(reply.size()));
}
BENCHMARK(BM_RedactAReplyAtTheCap)->Unit(benchmark::kMillisecond);

}  // namespace
