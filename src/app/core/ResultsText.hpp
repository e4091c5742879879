#pragma once
// The figures and sentences of the results screen, worked out from a finished cut.
#include <QString>

#include <filesystem>
#include <optional>

#include "kestrane/model/CutFigures.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::app::ResultsText {

using Stats = CutFigures;

Stats stats(const KestraneSession& session);

// "m:ss" from whole seconds truncated toward zero; minutes are not folded into hours.
QString timeString(double seconds);
// "12:34 of footage → 8:15"
QString figuresLine(const Stats& stats);
// "Cut in 12s", with " · analyzed in 1m 40s while you chose options" after a pre-analysis.
QString elapsedLine(double cutSeconds, std::optional<double> preAnalysisSeconds);
// "Removed 3 silences · 1 flub · …", as the command line and the transcript count them.
QString removedLine(const Stats& stats);
// "2 spoken notes to your editor — …"
QString spokenNotesText(int notes);
// The same, saying which notes the cut took off the timeline and which it left on it.
QString spokenNotesText(const std::vector<Advisory>& notes, const CutList& cut);
// "1:01  note"
QString advisoryRow(const Advisory& advisory);
// The warning that the footage's sound ends well before its stated length, so that only part of
// it was cut; none when the cut said no such thing.
std::optional<QString> endsEarlyWarning(const std::vector<std::string>& warnings);

// Where the package writer puts the Premiere timeline: "<footage name> (Premiere).xml".
std::filesystem::path premiereXmlPath(const Pipeline::Output& output);
// How to bring the timeline into an editor that is not opened directly; empty for Final Cut Pro.
QString importHint(const Pipeline::Output& output);

}  // namespace kestrane::app::ResultsText
