#include "app/views/OptionsView.hpp"

#include <QClipboard>
#include <QDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QUndoStack>

#include "app/core/FileKinds.hpp"
#include "app/views/BatchStrip.hpp"
#include "app/views/Brand.hpp"
#include "app/views/Symbols.hpp"
#include "app/views/WrappingRow.hpp"

namespace kestrane::app {

using Brand::TextStyle;

namespace {

constexpr CutTightness tightnesses[] = {CutTightness::relaxed, CutTightness::natural, CutTightness::tight,
                                        CutTightness::jumpCut};

QFrame* divider(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setStyleSheet(QStringLiteral("color: #3a3841;"));
  return line;
}

QString tightnessText(CutTightness tightness) {
  switch (tightness) {
    case CutTightness::relaxed:
      return QStringLiteral("Only the long dead air goes, and the pauses that stay keep their air. Natural pacing.");
    case CutTightness::natural: return QStringLiteral("Even breathing room around every cut. The usual choice.");
    case CutTightness::tight: return QStringLiteral("Shorter pauses go too, and what stays is trimmed close. Brisk.");
    case CutTightness::jumpCut:
      return QStringLiteral("Every pause goes and the cuts land right on the words. Classic YouTube energy.");
  }
  return {};
}

QPushButton* linkButton(const QString& text, const char* name, QWidget* parent) {
  QPushButton* b = Brand::button(text, Brand::ButtonLook::link, false, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setCursor(Qt::PointingHandCursor);
  return b;
}

void setColour(QLabel* label, const QColor& colour) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, colour);
  label->setPalette(p);
}

}  // namespace

OptionsView::OptionsView(AppServices services, QWidget* parent) : ScreenView(services, parent) {
  setObjectName(QStringLiteral("options"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  batchStrip_ = new BatchStrip(job(), this);
  column->addWidget(batchStrip_);

  auto* header = new QHBoxLayout;
  header->setContentsMargins(20, 20, 20, 20);
  header->setSpacing(12);
  header->addWidget(Symbols::label(QStringLiteral("film"), Brand::accent, 26, this));
  auto* titles = new QVBoxLayout;
  titles->setSpacing(4);
  fileName_ = Brand::label(QString(), TextStyle::headline, Brand::primaryText, QFont::Normal, Qt::AlignLeft);
  fileName_->setObjectName(QStringLiteral("footageName"));
  titles->addWidget(fileName_);
  auto* statusRow = new QHBoxLayout;
  statusRow->setSpacing(5);
  statusIcon_ = new QLabel(this);
  statusRow->addWidget(statusIcon_);
  status_ = Brand::label(QString(), TextStyle::caption, Brand::secondaryText, QFont::Normal, Qt::AlignLeft);
  status_->setObjectName(QStringLiteral("footageStatus"));
  statusRow->addWidget(status_, 1);
  stopLook_ = linkButton(QStringLiteral("Stop"), "stopFootageLook", this);
  connect(stopLook_, &QPushButton::clicked, this, [this] { job().stopLookingAtFootage(); });
  statusRow->addWidget(stopLook_);
  titles->addLayout(statusRow);
  header->addLayout(titles, 1);
  auto* change = Brand::button(QStringLiteral("Change\u2026"), Brand::ButtonLook::bordered);
  change->setObjectName(QStringLiteral("change"));
  connect(change, &QPushButton::clicked, this, [this] { job().reset(); });
  header->addWidget(change);
  column->addLayout(header);
  column->addWidget(divider(this));

  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("optionsForm"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setWidget(buildForm());
  column->addWidget(scroll, 1);
  column->addWidget(divider(this));

  auto* footer = new QHBoxLayout;
  footer->setContentsMargins(20, 20, 20, 20);
  // A nested layout takes the column's spacing of 0; the two batch buttons must not touch.
  footer->setSpacing(8);
  footer->addStretch(1);
  applyToAll_ = Brand::button(QStringLiteral("Apply Settings to All"), Brand::ButtonLook::bordered,
                              /*large=*/true);
  applyToAll_->setObjectName(QStringLiteral("applyToAll"));
  applyToAll_->setToolTip(
      QStringLiteral("Copies this video\u2019s toggles and pickers to every video "
                     "in the batch. Hand edits stay per video."));
  connect(applyToAll_, &QPushButton::clicked, this, [this] { job().applySettingsToAllBatchItems(); });
  footer->addWidget(applyToAll_);
  auto* cut = Brand::button(QStringLiteral("Cut It"), Brand::ButtonLook::prominent, /*large=*/true);
  cut_ = cut;
  cut->setObjectName(QStringLiteral("cutIt"));
  cut->setIcon(Symbols::icon(QStringLiteral("scissors"), Qt::white, 16));
  cut->setMinimumWidth(120);
  connect(cut, &QPushButton::clicked, this, [this] {
    if (job().batch().size() >= 2) return job().cutAll();
    job().start();
  });
  for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* returnKey = new QShortcut(QKeySequence(key), this);
    connect(returnKey, &QShortcut::activated, cut, &QPushButton::click);
  }
  // A focused text field takes its own spaces before any shortcut sees them.
  auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
  connect(space, &QShortcut::activated, this, &OptionsView::playOrStop);
  // Hand edits are undone here and nowhere else.
  auto* undo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
  connect(undo, &QShortcut::activated, this, [this] { undoOrRedo(false); });
  auto* redo = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
  connect(redo, &QShortcut::activated, this, [this] { undoOrRedo(true); });
  footer->addWidget(cut);
  column->addLayout(footer);
  refresh();
}

QWidget* OptionsView::buildForm() {
  auto* form = new QWidget;
  auto* rows = new QVBoxLayout(form);
  rows->setContentsMargins(20, 16, 20, 20);
  rows->setSpacing(14);

  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(
      Brand::label(QStringLiteral("Project name"), TextStyle::body, Brand::primaryText, QFont::Normal, Qt::AlignLeft));
  projectName_ = new QLineEdit(form);
  projectName_->setObjectName(QStringLiteral("projectName"));
  connect(projectName_, &QLineEdit::textEdited, this, [this](const QString& text) { job().setProjectName(text); });
  nameRow->addWidget(projectName_, 1);
  auto* nameBlock = new QVBoxLayout;
  nameBlock->setSpacing(4);
  nameBlock->addLayout(nameRow);
  nameBlock->addWidget(captionText(QStringLiteral("Names the package folder and the Final Cut project."), form));
  rows->addLayout(nameBlock);
  rows->addLayout(buildScriptRow());

  auto* preview = new FormSection(QStringLiteral("The cut, before you make it"), form);
  preview_ = new CutPreviewSection(job(), job().editHistory(), preview);
  preview->body()->addWidget(preview_);
  rows->addWidget(preview);

  auto* howMuch = new FormSection(QStringLiteral("How much to cut"), form);
  howMuch->body()->addWidget(captionText(QStringLiteral("Whether Kestrane only closes the gaps, or also removes the "
                                                        "lines you fluffed and the takes you redid."),
                                         howMuch));
  thoroughness_ = new Segmented(
      {QStringLiteral("Silences only"), QStringLiteral("Full cut")},
      [this](int i) { job().setThoroughness(i == 0 ? Thoroughness::silencesOnly : Thoroughness::balanced); }, howMuch);
  thoroughness_->setObjectName(QStringLiteral("thoroughness"));
  howMuch->body()->addWidget(thoroughness_);
  thoroughnessText_ = captionText(QString(), howMuch);
  thoroughnessText_->setObjectName(QStringLiteral("thoroughnessText"));
  howMuch->body()->addWidget(thoroughnessText_);
  fillers_ = new Switch(QStringLiteral("Remove filler words (um, uh)"), howMuch);
  fillers_->setObjectName(QStringLiteral("removeFillers"));
  connect(fillers_, &Switch::clicked, this, [this](bool on) { job().setRemoveFillers(on); });
  howMuch->body()->addWidget(fillers_);
  shadingNote_ = captionText(QStringLiteral("Shaded in the picture above: exactly what this mode drops \u2014 the "
                                            "export matches the picture."),
                             howMuch);
  shadingNote_->setObjectName(QStringLiteral("shadingNote"));
  howMuch->body()->addWidget(shadingNote_);
  rows->addWidget(howMuch);

  auto* howTight = new FormSection(QStringLiteral("How tight"), form);
  howTight->body()->addWidget(captionText(
      QStringLiteral("How much breathing room survives around what\u2019s kept, and how short a pause has to be "
                     "before it\u2019s left alone. The orange bands above follow this live."),
      howTight));
  tightness_ = new Segmented(
      {QStringLiteral("Relaxed"), QStringLiteral("Natural"), QStringLiteral("Tight"), QStringLiteral("Jump cut")},
      [this](int i) { job().setTightness(tightnesses[i]); }, howTight);
  tightness_->setObjectName(QStringLiteral("tightness"));
  howTight->body()->addWidget(tightness_);
  tightnessText_ = captionText(QString(), howTight);
  tightnessText_->setObjectName(QStringLiteral("tightnessText"));
  howTight->body()->addWidget(tightnessText_);
  rows->addWidget(howTight);

  auto* output = new FormSection(QStringLiteral("What you get"), form);
  output_ = new OutputOptions(job(), output);
  output->body()->addWidget(output_);
  rows->addWidget(output);
  rows->addStretch(1);
  return form;
}

QLayout* OptionsView::buildScriptRow() {
  // In a narrow window the links, then the script's line, move under the title, at the right.
  auto* row = new WrappingRow(nullptr, 14);
  row->addWidget(
      Brand::label(QStringLiteral("Script"), TextStyle::body, Brand::primaryText, QFont::Normal, Qt::AlignLeft));
  row->addStretch();
  scriptText_ = Brand::label(QString(), TextStyle::body, Brand::secondaryText, QFont::Normal, Qt::AlignRight);
  scriptText_->setObjectName(QStringLiteral("scriptText"));
  // One line: wrapping would split "re-cut" at its hyphen or a file name mid-word.
  scriptText_->setWordWrap(false);
  row->addWidget(scriptText_);
  auto* links = new QWidget(this);
  auto* linkRow = new QHBoxLayout(links);
  linkRow->setContentsMargins(0, 0, 0, 0);
  linkRow->setSpacing(14);
  addScript_ = linkButton(QStringLiteral("Add File\u2026"), "addScriptFile", this);
  connect(addScript_, &QPushButton::clicked, this, [this] {
    const QString chosen = services_.dialogs->chooseScript();
    if (!chosen.isEmpty()) job().setScriptPath(chosen);
  });
  pasteScript_ = linkButton(QStringLiteral("Paste\u2026"), "pasteScript", this);
  connect(pasteScript_, &QPushButton::clicked, this, &OptionsView::pasteScript);
  removeScript_ = linkButton(QStringLiteral("Remove"), "removeScript", this);
  connect(removeScript_, &QPushButton::clicked, this, [this] {
    // An attached file goes first; the stored script is what a re-cut can drop.
    if (!job().scriptPath().isEmpty()) return job().setScriptPath({});
    job().setDropStoredScript(true);
  });
  undoRemove_ = linkButton(QStringLiteral("Undo"), "undoRemoveScript", this);
  connect(undoRemove_, &QPushButton::clicked, this, [this] { job().setDropStoredScript(false); });
  for (QPushButton* b : {addScript_, pasteScript_, removeScript_, undoRemove_}) linkRow->addWidget(b);
  row->addWidget(links);
  return row;
}

void OptionsView::refresh() {
  batchStrip_->refresh();
  const auto videos = static_cast<int>(job().batch().size());
  applyToAll_->setVisible(videos >= 2);
  cut_->setText(videos >= 2 ? QStringLiteral("Cut All %1").arg(videos) : QStringLiteral("Cut It"));
  // Footage that can't be used can't be cut: the header and the cut preview say why.
  cut_->setEnabled(!job().sourceMissing());
  cut_->setToolTip(job().sourceProblem());
  refreshHeader();
  const QString placeholder =
      job().footagePath().isEmpty() ? QStringLiteral("My video") : FileKinds::baseName(job().footagePath());
  projectName_->setPlaceholderText(placeholder);
  if (projectName_->text() != job().projectName()) projectName_->setText(job().projectName());
  refreshScriptRow();

  preview_->refresh();

  const bool silencesOnly = job().thoroughness() == Thoroughness::silencesOnly;
  thoroughness_->setCurrent(silencesOnly ? 0 : 1);
  thoroughnessText_->setText(silencesOnly ? QStringLiteral("Every word you said is kept \u2014 only the gaps close. "
                                                           "For a podcast, or a read you know you nailed.")
                                          : QStringLiteral("Also cuts flubs and repeated takes, keeping the best "
                                                           "rendition of every line. The usual choice."));
  {
    const QSignalBlocker quiet(fillers_);
    fillers_->setChecked(job().removeFillers());
  }
  shadingNote_->setVisible(!job().draftRemovals().empty());
  tightness_->setCurrent(static_cast<int>(job().tightness()));
  tightnessText_->setText(tightnessText(job().tightness()));
  output_->refresh();
}

void OptionsView::refreshHeader() {
  fileName_->setText(QFileInfo(job().footagePath()).fileName());
  QString text;
  QString symbol;
  QColor colour = Brand::secondaryText;
  if (job().sourceMissing()) {
    symbol = QStringLiteral("exclamationmark.triangle.fill");
    text = QStringLiteral("This cut\u2019s footage can\u2019t be used \u2014 Cut It is off until it\u2019s back");
    colour = Brand::orange;
  } else if (job().lookingLong()) {
    // Play and Cut It wait for the look: said, so that nothing waits silently.
    symbol = QStringLiteral("waveform");
    text = QStringLiteral("Checking the footage at its path — Play and Cut It wait for it");
  } else if (job().footageLookStopped()) {
    text = QStringLiteral("Check of the footage stopped — Play or Cut It checks it again");
  } else if (job().footageBeingWritten() && job().preAnalysisState() != PreAnalysisState::ready) {
    symbol = QStringLiteral("exclamationmark.triangle.fill");
    text = QStringLiteral("Still being written — Kestrane listens again once it’s saved");
    colour = Brand::orange;
  } else if (job().isRecut() && !job().openingWarnings().isEmpty()) {
    symbol = QStringLiteral("exclamationmark.triangle.fill");
    text = job().openingWarnings().join(QLatin1Char(' '));
    colour = Brand::orange;
  } else if (job().isRecut()) {
    text = QStringLiteral("Re-cut with new settings \u2014 instant, no re-analysis");
  } else {
    switch (job().preAnalysisState()) {
      case PreAnalysisState::none: text = QStringLiteral("Ready to cut"); break;
      case PreAnalysisState::working:
        symbol = QStringLiteral("waveform");
        text = QStringLiteral("Analyzing in the background while you choose\u2026");
        break;
      case PreAnalysisState::ready:
        symbol = QStringLiteral("checkmark.circle.fill");
        text = QStringLiteral("Analysis done \u2014 Cut It goes straight to deciding");
        colour = Brand::green;
        break;
      case PreAnalysisState::failed:
        text = QStringLiteral("Quick pre-check failed \u2014 the full analysis will run when you press Cut It");
        colour = Brand::orange;
        break;
    }
  }
  statusIcon_->setVisible(!symbol.isEmpty());
  if (!symbol.isEmpty()) statusIcon_->setPixmap(Symbols::pixmap(symbol, colour, 13, devicePixelRatioF()));
  status_->setText(text);
  setColour(status_, colour);
  stopLook_->setVisible(job().lookingLong() && !job().sourceMissing());
}

void OptionsView::refreshScriptRow() {
  const JobModel& j = job();
  const bool attached = !j.scriptPath().isEmpty();
  const bool stored = j.sessionHasScript() && !j.dropStoredScript();
  QString text;
  QColor colour = Brand::secondaryText;
  if (attached) {
    text = QFileInfo(j.scriptPath()).fileName();
    colour = Brand::primaryText;
  } else if (stored) {
    text = QStringLiteral("From previous run \u2713");
    colour = Brand::green;
  } else if (j.dropStoredScript()) {
    text = QStringLiteral("Removed \u2014 this re-cut runs script-free");
  } else {
    text = QStringLiteral("None \u2014 Kestrane finds the best takes on its own");
  }
  scriptText_->setText(text);
  setColour(scriptText_, colour);
  const bool none = !attached && !stored && !j.dropStoredScript();
  addScript_->setVisible(none);
  pasteScript_->setVisible(none);
  removeScript_->setVisible(attached || stored);
  undoRemove_->setVisible(!attached && !stored && j.dropStoredScript());
}

void OptionsView::pasteScript() {
  QString offered;
  const QString clip = QGuiApplication::clipboard()->text();
  if (!clip.isNull() && clip.trimmed() != lastAdoptedScript_) offered = clip;

  auto* sheet = new QDialog(this);
  sheet->setObjectName(QStringLiteral("pasteScriptSheet"));
  sheet->setAttribute(Qt::WA_DeleteOnClose);
  sheet->setWindowModality(Qt::WindowModal);
  auto* column = new QVBoxLayout(sheet);
  column->setContentsMargins(24, 24, 24, 24);
  column->setSpacing(14);
  column->addWidget(
      Brand::label(QStringLiteral("Paste your script"), TextStyle::title3, Brand::primaryText, QFont::DemiBold));
  QLabel* about = Brand::label(QStringLiteral("Straight from Notes, Docs, or your teleprompter \u2014 plain text is "
                                              "perfect. Kestrane edits against it: best rendition of every line, "
                                              "coverage report included."),
                               TextStyle::caption, Brand::secondaryText);
  column->addLayout(Brand::centred(about, 440));
  auto* editor = new QPlainTextEdit(sheet);
  editor->setObjectName(QStringLiteral("pasteScriptText"));
  editor->setFont(Brand::font(TextStyle::body));
  editor->setFixedSize(480, 280);
  editor->setStyleSheet(
      QStringLiteral("QPlainTextEdit { background: rgba(0, 0, 0, 64); border: 1px solid "
                     "rgba(150, 147, 158, 64); border-radius: 6px; padding: 8px; }"));
  editor->setPlainText(offered);
  column->addWidget(editor, 0, Qt::AlignHCenter);
  auto* buttons = new QHBoxLayout;
  QPushButton* cancel = Brand::button(QStringLiteral("Cancel"), Brand::ButtonLook::bordered, false, sheet);
  cancel->setObjectName(QStringLiteral("cancelPaste"));
  QPushButton* use = Brand::button(QStringLiteral("Use Script"), Brand::ButtonLook::prominent, false, sheet);
  use->setObjectName(QStringLiteral("useScript"));
  use->setDefault(true);
  buttons->addWidget(cancel);
  buttons->addStretch(1);
  buttons->addWidget(use);
  column->addLayout(buttons);
  const auto enable = [editor, use] { use->setEnabled(!editor->toPlainText().trimmed().isEmpty()); };
  enable();
  connect(editor, &QPlainTextEdit::textChanged, sheet, enable);
  connect(cancel, &QPushButton::clicked, sheet, &QDialog::reject);
  connect(use, &QPushButton::clicked, sheet, [this, sheet, editor] {
    const QString text = editor->toPlainText();
    lastAdoptedScript_ = text.trimmed();
    job().adoptPastedScript(text);
    sheet->accept();
  });
  sheet->open();
}

void OptionsView::undoOrRedo(bool redo) {
  // While the name is being typed these keys are about its text, even with nothing to undo there.
  if (projectName_->hasFocus()) {
    if (redo) projectName_->redo();
    else projectName_->undo();
    return;
  }
  if (redo) job().editHistory()->redo();
  else job().editHistory()->undo();
}

void OptionsView::playOrStop() {
  if (projectName_->hasFocus() || job().levelsDBFS().empty()) return;
  job().toggleAudition();
}

}  // namespace kestrane::app
