#include "app/core/ResultsText.hpp"

#include "app/core/FileKinds.hpp"
#include "app/core/Paths.hpp"
#include "kestrane/analysis/MediaDamage.hpp"
#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::app::ResultsText {

Stats stats(const KestraneSession& session) { return cutFigures(session); }

QString timeString(double seconds) { return QString::fromStdString(timeStamp(seconds)); }

QString figuresLine(const Stats& stats) {
  return timeString(stats.source) + QStringLiteral(" of footage \u2192 ") + timeString(stats.kept);
}

QString elapsedLine(double cutSeconds, std::optional<double> preAnalysisSeconds) {
  QString line = QStringLiteral("Cut in ") + QString::fromStdString(Pipeline::elapsedString(cutSeconds));
  if (preAnalysisSeconds) {
    line += QStringLiteral(" \u00b7 analyzed in ") +
            QString::fromStdString(Pipeline::elapsedString(*preAnalysisSeconds)) +
            QStringLiteral(" while you chose options");
  }
  return line;
}

QString removedLine(const Stats& s) {
  const QString dot = QStringLiteral(" \u00b7 ");
  const auto counts = removedCounts(s);
  QString line = QStringLiteral("Removed ") + QString::fromStdString(counts[0]);
  for (std::size_t i = 1; i < counts.size(); ++i) line += dot + QString::fromStdString(counts[i]);
  if (s.manual >= 1) line += dot + QStringLiteral("%1 by your hand").arg(s.manual);
  return line;
}

QString spokenNotesText(int notes) {
  return QStringLiteral(
             "%1 spoken note%2 to your editor \u2014 cut from the timeline, marked inside "
             "the source clip")
      .arg(notes)
      .arg(notes == 1 ? QString() : QStringLiteral("s"));
}

QString spokenNotesText(const std::vector<Advisory>& notes, const CutList& cut) {
  return QString::fromStdString(Pipeline::spokenNotesSentence(notes, cut).value_or(std::string()));
}

QString advisoryRow(const Advisory& advisory) {
  return timeString(advisory.range.start) + QStringLiteral("  ") + QString::fromStdString(advisory.note);
}

std::optional<QString> endsEarlyWarning(const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) {
    if (MediaDamage::isEndsEarlyWarning(warning)) return QString::fromStdString(warning);
  }
  return std::nullopt;
}

std::filesystem::path premiereXmlPath(const Pipeline::Output& output) {
  return Pipeline::PackageLayout{output.packageDir, Pipeline::sourceStem(output.session.source.path)}.premiereXml();
}

QString importHint(const Pipeline::Output& output) {
  switch (output.session.settings.resolvedExportTarget()) {
    case ExportTarget::finalCut: return {};
    case ExportTarget::resolve:
      return QStringLiteral(
          "In Resolve: File \u2192 Import \u2192 Timeline\u2026 and pick the .fcpxml "
          "from the package. Subtitles: import captions.srt alongside it.");
    case ExportTarget::premiere:
      return QStringLiteral("Drag \u201c") + fromPath(premiereXmlPath(output).filename()) +
             QStringLiteral(
                 "\u201d from the package into Premiere\u2019s Project panel (or File \u2192 "
                 "Import). The cut arrives with your full raw nested inside \u2014 "
                 "double-click any piece to fall into it.");
  }
  return {};
}

}  // namespace kestrane::app::ResultsText
