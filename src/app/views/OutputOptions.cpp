#include "app/views/OutputOptions.hpp"

#include <QSignalBlocker>

#include "app/views/Brand.hpp"
#include "app/views/WrappingRow.hpp"
#include "kestrane/export/TranscriptExporter.hpp"

namespace kestrane::app {

using Brand::TextStyle;
using Length = TranscriptExporter::SubtitleLength;

namespace {

constexpr ExportTarget targets[] = {ExportTarget::finalCut, ExportTarget::resolve, ExportTarget::premiere};
constexpr Length lengths[] = {Length::short_, Length::medium, Length::long_, Length::sentence};

QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString targetText(ExportTarget target) {
  switch (target) {
    case ExportTarget::finalCut:
      return QStringLiteral(
          "The .fcpxml opens in Final Cut with the full raw inside a compound clip and editable "
          "subtitles already on the timeline.");
    case ExportTarget::resolve:
      return QStringLiteral(
          "DaVinci Resolve imports the same .fcpxml directly (File \u2192 Import Timeline \u2192 "
          "Import AAF, EDL, XML\u2026). Bring in captions.srt for subtitles.");
    case ExportTarget::premiere:
      return QStringLiteral(
          "Adds a Premiere-ready .xml to the package (File \u2192 Import). Your full raw rides "
          "inside a nested sequence \u2014 double-click any piece to fall into it, same as the "
          "Final Cut compound. Bring in captions.srt for subtitles.");
  }
  return {};
}

// A titled segmented picker: the title at the left, the segments filling the rest; under the
// title when the window is too narrow for both.
QWidget* titled(const QString& title, Segmented* picker, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* layout = new WrappingRow(row, 6);
  QLabel* label = Brand::label(title, TextStyle::body, Brand::primaryText, QFont::Normal, Qt::AlignLeft);
  label->setWordWrap(false);
  layout->addWidget(label);
  layout->addFilling(picker);
  return row;
}

}  // namespace

OutputOptions::OutputOptions(JobModel& job, QWidget* parent) : QWidget(parent), job_(job) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  column->addWidget(captionText(QStringLiteral("A ready-to-edit timeline, the cut transcript, and a captions file "
                                               "(.srt) \u2014 always. These are extras."),
                                this));
  QStringList targetTitles;
  for (ExportTarget t : targets) targetTitles << text(label(t));
  target_ = new Segmented(
      targetTitles, [this](int i) { job_.setExportTarget(targets[i]); }, this);
  target_->setObjectName(QStringLiteral("exportTarget"));
  column->addWidget(titled(QStringLiteral("Export for"), target_, this));
  targetText_ = captionText(QString(), this);
  targetText_->setObjectName(QStringLiteral("exportTargetText"));
  column->addWidget(targetText_);

  captions_ = new Switch(QStringLiteral("Subtitles on the timeline"), this);
  captions_->setObjectName(QStringLiteral("embedCaptions"));
  connect(captions_, &Switch::clicked, this, [this](bool on) { job_.setEmbedCaptions(on); });
  column->addWidget(captions_);
  column->addWidget(captionText(
      QStringLiteral("The import lands with editable subtitle titles already connected above the video \u2014 the "
                     "same kind FCP\u2019s own Generate Subtitles makes. Restyle or delete them like any title. The "
                     ".srt file is in the package either way."),
      this));

  subtitleGroup_ = new QWidget(this);
  subtitleGroup_->setObjectName(QStringLiteral("subtitleGroup"));
  auto* group = new QVBoxLayout(subtitleGroup_);
  group->setContentsMargins(0, 0, 0, 0);
  QStringList lengthTitles;
  for (Length l : lengths) lengthTitles << text(TranscriptExporter::label(l));
  length_ = new Segmented(
      lengthTitles, [this](int i) { job_.setSubtitleLength(lengths[i]); }, subtitleGroup_);
  length_->setObjectName(QStringLiteral("subtitleLength"));
  group->addWidget(titled(QStringLiteral("Longest subtitle"), length_, subtitleGroup_));
  lengthHint_ = captionText(QString(), subtitleGroup_);
  lengthHint_->setObjectName(QStringLiteral("subtitleHint"));
  group->addWidget(lengthHint_);
  sampleRow_ = new QWidget(subtitleGroup_);
  auto* sampleColumn = new QVBoxLayout(sampleRow_);
  sampleColumn->setContentsMargins(0, 4, 0, 0);
  sample_ = new QLabel(sampleRow_);
  sample_->setObjectName(QStringLiteral("subtitleSample"));
  sample_->setTextFormat(Qt::PlainText);
  QFont sampleFont = Brand::font(TextStyle::body, QFont::Medium);
  sampleFont.setPointSizeF(15 * 0.75);
  sample_->setFont(sampleFont);
  sample_->setStyleSheet(
      QStringLiteral("color: white; background: rgba(0, 0, 0, 204); border-radius: 13px; "
                     "padding: 6px 14px;"));
  sampleColumn->addWidget(sample_, 0, Qt::AlignHCenter);
  sampleNote_ = Brand::label(QString(), TextStyle::caption2, Brand::tertiaryText);
  sampleNote_->setObjectName(QStringLiteral("subtitleSampleNote"));
  sampleColumn->addWidget(sampleNote_);
  group->addWidget(sampleRow_);
  column->addWidget(subtitleGroup_);

  mp4_ = new Switch(QStringLiteral("Also render a rough-cut MP4"), this);
  mp4_->setObjectName(QStringLiteral("renderMP4"));
  connect(mp4_, &Switch::clicked, this, [this](bool on) { job_.setRenderMP4(on); });
  column->addWidget(mp4_);
  refresh();
}

void OutputOptions::refresh() {
  target_->setCurrent(static_cast<int>(job_.exportTarget()));
  targetText_->setText(targetText(job_.exportTarget()));
  {
    const QSignalBlocker quiet(captions_);
    captions_->setChecked(job_.embedCaptions());
  }
  subtitleGroup_->setVisible(job_.embedCaptions());
  const Length length = job_.subtitleLength();
  length_->setCurrent(static_cast<int>(length));
  lengthHint_->setText(text(TranscriptExporter::hint(length)));
  const QString example = job_.embedCaptions() ? job_.subtitleExample(length) : QString();
  sampleRow_->setVisible(!example.isEmpty());
  sample_->setText(example);
  sampleNote_->setText(job_.levelsDBFS().empty()
                           ? QStringLiteral("An example \u2014 yours appears once analysis finishes.")
                           : QStringLiteral("One of yours, at this setting."));
  {
    const QSignalBlocker quiet(mp4_);
    mp4_->setChecked(job_.renderMP4());
  }
}

}  // namespace kestrane::app
