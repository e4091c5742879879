#include "app/views/ResultsView.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>

#include <algorithm>
#include <QVBoxLayout>

#include "app/core/Paths.hpp"
#include "app/core/ResultsText.hpp"
#include "app/views/Brand.hpp"
#include "app/views/Symbols.hpp"
#include "kestrane/pipeline/PackageContents.hpp"

namespace kestrane::app {

using Brand::TextStyle;

namespace {

QWidget* section(const QString& title, const QStringList& rows, QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(5);
  column->addWidget(
      Brand::label(title.toUpper(), TextStyle::caption2, Brand::tertiaryText, QFont::DemiBold, Qt::AlignLeft));
  for (const QString& row : rows) {
    column->addWidget(Brand::label(row, TextStyle::caption, Brand::secondaryText, QFont::Normal, Qt::AlignLeft));
  }
  return box;
}

// The action column, padding included; a label too long for one line wraps onto a second.
constexpr int kActionsWidth = 380;
constexpr int kActionsPadding = 24;

QPushButton* actionButton(const QString& text, const QString& symbol, Brand::ButtonLook look) {
  auto* b = Brand::button(text, look, /*large=*/true);
  // Room for the text: the column less its padding, the button's own padding (16 a side), the
  // icon and the gap after it.
  const int room = kActionsWidth - 2 * kActionsPadding - 2 * 16 - 16 - 8;
  b->setText(Brand::wrapped(text, b->fontMetrics(), room));
  b->setIcon(Symbols::icon(symbol, look == Brand::ButtonLook::prominent ? Qt::white : Brand::primaryText, 16));
  b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return b;
}

}  // namespace

ReviewReport::ReviewReport(const QString& removedLine, const std::vector<std::string>& warnings,
                           const std::vector<Advisory>& advisories, QWidget* parent)
    : QWidget(parent) {
  setObjectName(QStringLiteral("reviewReport"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  toggle_ = new QToolButton(this);
  toggle_->setObjectName(QStringLiteral("reportToggle"));
  toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  toggle_->setAutoRaise(true);
  toggle_->setFont(Brand::font(TextStyle::callout));
  toggle_->setCursor(Qt::PointingHandCursor);
  column->addWidget(toggle_, 0, Qt::AlignHCenter);

  content_ = new QWidget(this);
  auto* sections = new QVBoxLayout(content_);
  sections->setContentsMargins(0, 10, 0, 0);
  sections->setSpacing(14);
  sections->addWidget(section(QStringLiteral("What came out"), {removedLine}, content_));
  if (!advisories.empty()) {
    QStringList rows;
    for (const Advisory& a : advisories) rows << ResultsText::advisoryRow(a);
    sections->addWidget(section(QStringLiteral("Worth a listen"), rows, content_));
  }
  if (!warnings.empty()) {
    QStringList rows;
    for (const std::string& w : warnings) rows << QString::fromStdString(w);
    sections->addWidget(section(QStringLiteral("What happened"), rows, content_));
  }
  column->addWidget(content_);
  connect(toggle_, &QToolButton::clicked, this, [this] { setExpanded(content_->isHidden()); });
  setExpanded(false);
}

void ReviewReport::setExpanded(bool expanded) {
  content_->setVisible(expanded);
  toggle_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
  toggle_->setText(expanded ? QStringLiteral("Hide full report") : QStringLiteral("See full report"));
}

ResultsView::ResultsView(AppServices services, std::shared_ptr<const Pipeline::Output> output, QWidget* parent)
    : ScreenView(services, parent), output_(std::move(output)) {
  setObjectName(QStringLiteral("results"));
  const KestraneSession& session = output_->session;
  const ResultsText::Stats stats = ResultsText::stats(session);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 20);
  outer->setSpacing(0);
  // The expanded report can be taller than the window; it scrolls rather than squeezing its rows.
  auto* scroll = new QScrollArea(this);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* page = new QWidget(scroll);
  page->setAutoFillBackground(false);
  scroll->viewport()->setAutoFillBackground(false);
  scroll->setWidget(page);
  outer->addWidget(scroll, 1);
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  // A package a killed run may have left holding parts of two cuts is no finished cut: its
  // heading says so and its re-cut, which makes it whole, comes first. Nor is a cut whose
  // footage can't be used (gone, or something else at its path) one to work on: it can be
  // neither played nor re-cut, and the heading and the sentence under it say so. Nor is a cut of
  // footage whose sound ends well before its stated length, most likely a copy broken off: only
  // the part that could be read was cut, and the heading and the engine's sentence say so.
  const bool mayBeMixed = job().packageMayBeMixed();
  const bool footageUnusable = job().sourceMissing();
  const std::optional<QString> endsEarly = ResultsText::endsEarlyWarning(output_->warnings);
  auto* header = new QVBoxLayout;
  header->setContentsMargins(24, 28, 24, 28);
  header->setSpacing(10);
  QLabel* seal = mayBeMixed || footageUnusable || endsEarly
                     ? Symbols::label(QStringLiteral("exclamationmark.triangle.fill"), Brand::yellow, 44, this)
                     : Symbols::label(QStringLiteral("checkmark.seal.fill"), Brand::green, 44, this);
  seal->setObjectName(QStringLiteral("seal"));
  header->addWidget(seal, 0, Qt::AlignHCenter);
  auto* heading = Brand::label(mayBeMixed        ? QStringLiteral("This package may hold parts of two cuts")
                               : footageUnusable ? QStringLiteral("This cut\u2019s footage can\u2019t be used")
                               : endsEarly       ? QStringLiteral("The footage may be cut off")
                                                 : QStringLiteral("First cut ready"),
                               TextStyle::title2, Brand::primaryText, QFont::DemiBold);
  heading->setObjectName(QStringLiteral("heading"));
  header->addWidget(heading);
  auto* figures = Brand::label(ResultsText::figuresLine(stats), TextStyle::title3, Brand::primaryText);
  figures->setObjectName(QStringLiteral("figures"));
  header->addWidget(figures);
  if (const auto cut = job().lastCutDuration()) {
    auto* elapsed = Brand::label(ResultsText::elapsedLine(*cut, job().lastPreAnalysisDuration()), TextStyle::callout,
                                 Brand::secondaryText);
    elapsed->setObjectName(QStringLiteral("elapsed"));
    header->addWidget(elapsed);
  }
  if (footageUnusable) {
    auto* problem = Brand::label(job().sourceProblem(), TextStyle::callout, Brand::orange);
    problem->setObjectName(QStringLiteral("footageProblem"));
    header->addLayout(Brand::centred(problem, 520));
  }
  if (endsEarly) {
    auto* warning = Brand::label(*endsEarly, TextStyle::callout, Brand::orange);
    warning->setObjectName(QStringLiteral("footageEndsEarly"));
    header->addLayout(Brand::centred(warning, 520));
    // Putting this copy back would only cut it off again: what helps is a whole one.
    auto* advice = Brand::label(
        QStringLiteral("This first cut used the readable part. Replace the copy with a whole one and cut it again."),
        TextStyle::callout, Brand::secondaryText);
    advice->setObjectName(QStringLiteral("cutOffAdvice"));
    header->addLayout(Brand::centred(advice, 520));
  }
  if (!job().openingWarnings().isEmpty()) {
    auto* warning = Brand::label(job().openingWarnings().join(QLatin1Char(' ')), TextStyle::caption, Brand::orange);
    warning->setObjectName(QStringLiteral("openingWarnings"));
    header->addLayout(Brand::centred(warning, 520));
  }
  header->addLayout(Brand::centred(new ReviewReport(ResultsText::removedLine(stats), output_->warnings,
                                                    session.advisories.value_or(std::vector<Advisory>{}), this),
                                   520));
  if (session.editorNotes && !session.editorNotes->empty()) {
    auto* notes = new QHBoxLayout;
    notes->addStretch(1);
    notes->addWidget(Symbols::label(QStringLiteral("bookmark.fill"), Brand::teal, 14, this), 0, Qt::AlignTop);
    auto* text = Brand::label(ResultsText::spokenNotesText(*session.editorNotes, session.cutList.value_or(CutList{})),
                              TextStyle::callout, Brand::teal);
    text->setObjectName(QStringLiteral("spokenNotes"));
    // One line when it fits, else wrapped at a readable width rather than squeezed narrow.
    text->setFixedWidth(std::min(text->fontMetrics().horizontalAdvance(text->text()) + 4, 440));
    notes->addWidget(text);
    notes->addStretch(1);
    header->addLayout(notes);
  }
  column->addLayout(header);

  auto* divider = new QFrame(this);
  divider->setFrameShape(QFrame::HLine);
  divider->setStyleSheet(QStringLiteral("color: #3a3841;"));
  column->addWidget(divider);

  auto* actionsBox = new QWidget(this);
  actionsBox->setObjectName(QStringLiteral("actions"));

  auto* actions = new QVBoxLayout(actionsBox);
  actions->setContentsMargins(kActionsPadding, kActionsPadding, kActionsPadding, kActionsPadding);
  actions->setSpacing(12);
  const auto adjustButton = [this](Brand::ButtonLook look) {
    auto* adjust = look == Brand::ButtonLook::prominent
                       ? actionButton(QStringLiteral("Adjust && Re-cut"), QStringLiteral("slider.horizontal.3"), look)
                       : Brand::button(QStringLiteral("Adjust && Re-cut"), look);
    adjust->setObjectName(QStringLiteral("adjustAndRecut"));
    if (look != Brand::ButtonLook::prominent)
      adjust->setIcon(Symbols::icon(QStringLiteral("slider.horizontal.3"), Brand::primaryText, 16));
    connect(adjust, &QPushButton::clicked, this, [this] { job().adjustAndRecut(); });
    return adjust;
  };
  if (mayBeMixed) actions->addWidget(adjustButton(Brand::ButtonLook::prominent));
  if (const QString hint = ResultsText::importHint(*output_); hint.isEmpty()) {
    auto* openTimeline = actionButton(QStringLiteral("Open in Final Cut Pro"), QStringLiteral("arrow.up.forward.app"),
                                      mayBeMixed ? Brand::ButtonLook::bordered : Brand::ButtonLook::prominent);
    openTimeline->setObjectName(QStringLiteral("openTimeline"));
    connect(openTimeline, &QPushButton::clicked, this,
            [this] { services_.workspace->open(fromPath(output_->fcpxmlURL)); });
    actions->addWidget(openTimeline);
  } else {
    auto* text = Brand::label(hint, TextStyle::callout, Brand::secondaryText);
    text->setObjectName(QStringLiteral("importHint"));
    actions->addWidget(text);
  }
  if (output_->mp4URL) {
    // A later cut whose own movie failed or was stopped keeps the earlier movie, and a killed
    // run can leave one the session doesn't vouch for: it is offered as what it is, never
    // beside this cut's figures as this cut's.
    const bool earlier = output_->mp4ShowsEarlierCut;
    auto* play = actionButton(earlier ? QStringLiteral("Play Earlier Rough Cut") : QStringLiteral("Play Rough Cut"),
                              QStringLiteral("play.rectangle"), Brand::ButtonLook::bordered);
    play->setObjectName(QStringLiteral("playRoughCut"));
    connect(play, &QPushButton::clicked, this, [this] { services_.workspace->open(fromPath(*output_->mp4URL)); });
    actions->addWidget(play);
    if (earlier) {
      // The engine's own sentence, as the failed or stopped cut said it.
      auto* note = Brand::label(QString::fromUtf8(Pipeline::kKeptEarlierRoughCut.data(),
                                                  static_cast<qsizetype>(Pipeline::kKeptEarlierRoughCut.size())),
                                TextStyle::caption, Brand::orange);
      note->setObjectName(QStringLiteral("earlierRoughCut"));
      actions->addWidget(note);
    }
  }
  auto* show = actionButton(QStringLiteral("Show Handoff Package in the file manager"), QStringLiteral("folder"),
                            Brand::ButtonLook::bordered);
  show->setObjectName(QStringLiteral("showPackage"));
  connect(show, &QPushButton::clicked, this, [this] { services_.workspace->reveal(fromPath(output_->packageDir)); });
  actions->addWidget(show);
  column->addLayout(Brand::centred(actionsBox, kActionsWidth));
  column->addStretch(1);

  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(16);
  bottom->addStretch(1);
  if (!mayBeMixed) bottom->addWidget(adjustButton(Brand::ButtonLook::bordered));
  auto* another = Brand::button(QStringLiteral("Cut Another Video"), Brand::ButtonLook::bordered);
  another->setObjectName(QStringLiteral("cutAnother"));
  connect(another, &QPushButton::clicked, this, [this] { job().reset(); });
  bottom->addWidget(another);
  bottom->addStretch(1);
  outer->addLayout(bottom);
}

}  // namespace kestrane::app
