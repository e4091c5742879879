#pragma once
// The JSON schema of a verdict, passed to the command-line tool so that its reply is held to it.
// One compact line; its exact text is part of the contract with the tool.
#include <string_view>

namespace kestrane {

inline constexpr std::string_view kVerdictSchema =
    R"SCHEMA({"type":"object","properties":{"cuts":{"type":"array","items":{"type":"object","properties":{"index":{"type":"integer"},"category":{"type":"string","enum":["offCameraSpeaker","paraphraseDuplicate","offScript"]},"reason":{"type":"string"},"confidence":{"type":"number"},"survivor":{"type":"integer"}},"required":["index","category","reason","confidence"]}},"swaps":{"type":"array","items":{"type":"object","properties":{"group":{"type":"integer"},"alternate":{"type":"integer"},"reason":{"type":"string"},"confidence":{"type":"number"}},"required":["group","alternate","reason","confidence"]}},"restores":{"type":"array","items":{"type":"object","properties":{"index":{"type":"integer"},"replaces":{"type":"integer"},"reason":{"type":"string"},"confidence":{"type":"number"}},"required":["index","replaces","reason","confidence"]}},"findings":{"type":"array","items":{"type":"object","properties":{"kind":{"type":"string","enum":["redundant","crewTalk","offTopic","order","runMix","scriptGap","editorNote"]},"detail":{"type":"string"},"index":{"type":"integer"},"remedy":{"type":"object","properties":{"action":{"type":"string","enum":["cut","restore","none"]},"index":{"type":"integer"},"replaces":{"type":"integer"},"survivor":{"type":"integer"},"reason":{"type":"string"},"confidence":{"type":"number"}},"required":["action"]}},"required":["kind","detail","remedy"]}}},"required":["cuts"]})SCHEMA";

}  // namespace kestrane
