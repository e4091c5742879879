#pragma once
// The closing lines of a finished job: what the cut did in figures, what deserves a listen,
// and how to bring the timeline into the chosen editor.
#include <optional>
#include <string>
#include <vector>

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

// "12:34 of footage → 8:15 (35% removed: 12 silences, 2 flubs, 3 alternate takes, 5 fillers)",
// with ", N by your hand" when hand edits removed anything.
std::string figuresLine(const KestraneSession& session);

// A warning when the cut keeps under 2 % of the footage: almost always a threshold that took
// the speech for silence rather than a wanted result.
std::optional<std::string> keepsAlmostNothing(const KestraneSession& session);

// "Worth a listen:" and one "  m:ss  note" line per advisory, in time order and each once, at
// most `limit` of them and then "  … and N more in the session file"; nothing without
// advisories.
std::vector<std::string> worthAListen(const KestraneSession& session, std::size_t limit = 10);

// `text` with the command to run where the application would name its button.
std::string withCommands(std::string text);

// The job's warnings as the closing lines print them: each once, without those that restate a
// note worth a listen or the spoken-notes line, and with the command to run where the
// application would name its button.
std::vector<std::string> closingWarnings(const std::vector<std::string>& warnings, const KestraneSession& session);

// "N spoken notes to your editor — …", when the session holds any.
std::optional<std::string> spokenNotesLine(const KestraneSession& session);

// Which file to open in the chosen editor, and how.
std::string nextStep(const Pipeline::Output& output);

}  // namespace kestrane::cli
