// kestrane-shots FOLDER: puts the window into each named state over the scripted engine and
// saves a picture of it as FOLDER/<state>.png. Test-only; never installed.
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <functional>

#include "AppTestSupport.hpp"
#include "app/core/Paths.hpp"
#include "app/views/Brand.hpp"
#include "app/views/MainWindow.hpp"
#include "app/views/TranscriptView.hpp"
#include "app/views/WaveformView.hpp"
#include "kestrane/analysis/MediaDamage.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;
using S = Pipeline::Stage;

namespace {

Pipeline::Output richOutput(const std::filesystem::path& footage, const PipelineSettings& settings) {
  Pipeline::Output out = sampleOutput(footage, settings);
  out.session.advisories = std::vector<Advisory>{{{61.7, 63}, "Two takes of this line were close; the second one won."},
                                                 {{312.2, 314}, "A breath right before the cut."}};
  out.session.editorNotes =
      std::vector<Advisory>{{{140, 142}, "Put the product shot here"}, {{400, 401}, "Use the wide angle"}};
  out.warnings = {"The script's last line was never read."};
  return out;
}

// A first cut of a copy broken off at 5:01 of its stated 12:34: only the part that could be read
// was cut.
Pipeline::Output cutOffOutput(const std::filesystem::path& footage, const PipelineSettings& settings) {
  Pipeline::Output out = sampleOutput(footage, settings);
  out.session.source.durationSeconds = 301.2;
  out.session.cutList =
      CutList{{{{0, 200}, SegmentKind::keep}, {{200, 260}, SegmentKind::silence}, {{260, 301.2}, SegmentKind::keep}}};
  out.warnings = {MediaDamage::endsEarlyWarning(754.4, 301.2)};
  return out;
}

// A minute of speech in phrases with pauses between them, and a word every 0.4 s of speech.
void speakingMinute(FakeEngine& engine) {
  std::vector<float> levels(6000, -62.0f);
  Transcript transcript;
  double t = 0.6;
  for (int phrase = 0; t < 58; ++phrase) {
    const double length = 2.0 + (phrase * 7 % 5) * 0.6;
    const double pause = 0.4 + (phrase * 3 % 4) * 0.5;
    for (double w = t; w + 0.35 < t + length; w += 0.4) transcript.words.push_back({"word", {w, w + 0.35}});
    for (auto i = static_cast<std::size_t>(t * 100); i < static_cast<std::size_t>((t + length) * 100); ++i) {
      levels[i] = static_cast<float>(-24 + 8 * std::sin(static_cast<double>(i) * 0.37) + (i % 7));
    }
    t += length + pause;
  }
  engine.levels = levels;
  engine.transcript = transcript;
}

bool pollUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) QTest::qWait(10);
  return done();
}

struct Shot {
  const char* name;
  std::function<void(Harness&)> setUp;  // leaves the model in the state to picture
  std::function<void(MainWindow&)> touch = [](MainWindow&) {};
};

// The minute's words as a talk would have them, so the take decision finds no repeats in them.
void talkingMinute(FakeEngine& engine) {
  speakingMinute(engine);
  const QStringList text =
      QStringLiteral(
          "So today I want to show you how a rough cut comes together and why the pauses go first. We start "
          "with the footage as it was recorded, every breath and every false start still in it. Then the "
          "cut listens for the stretches where nobody speaks and marks them in orange. Next it reads "
          "the words themselves, and where a line was said twice it keeps the better take. You can hear "
          "the result before anything is written, and change it by hand where the machine guessed wrong. "
          "Drag across the waveform to keep a stretch or cut one, or pick words in the transcript below. "
          "When it sounds right, press the button and the package lands beside your footage, ready for "
          "the editor of your choice with captions and a transcript of what stayed. That is really all "
          "there is to it, and it never leaves this computer at any point along the way. Thanks for "
          "watching this short tour of the preview, and good luck with your own recordings today.")
          .split(QLatin1Char(' '));
  for (std::size_t i = 0; i < engine.transcript.words.size(); ++i) {
    engine.transcript.words[i].text = text[qsizetype(i % std::size_t(text.size()))].toStdString();
  }
}

// The options form scrolled to the cut preview, with its switches as given.
void showPreview(MainWindow& w, bool transcript, bool edit, QSize size = {860, 900}) {
  w.resize(size);
  if (transcript) w.findChild<QPushButton*>("showTranscript")->click();
  if (edit) w.findChild<QPushButton*>("editMode")->click();
  QTest::qWait(50);
  auto* form = w.findChild<QScrollArea*>("optionsForm");
  auto* preview = w.findChild<QWidget*>("cutPreview");
  form->verticalScrollBar()->setValue(preview->mapTo(form->widget(), QPoint(0, 0)).y() - 70);
  QTest::qWait(50);
}

// The first video analysed, the next one still being listened to.
void batchBeingAnalysed(Harness& h) {
  speakingMinute(*h.engine);
  h.engine->analysis.stages = {S::detectingSilence};
  h.engine->analysis.delay = std::chrono::milliseconds(300);
  h.job->accept({h.touch("Intro.mov"), h.touch("Product demo.mov"), h.touch("Outro.mov")});
  pollUntil([&] { return h.job->batch()[0].analysis != nullptr; });
  h.engine->analysis.gate.close();
  pollUntil([&] { return h.job->draftBands().has_value(); });
}

void editedWithScript(Harness& h) {
  talkingMinute(*h.engine);
  h.job->accept({h.touch("Interview take 2.mov")});
  h.job->setScriptPath(h.touch("Interview take 2 script, final version.txt"));
  pollUntil([&] { return h.job->draftBands().has_value(); });
  h.job->editStretch({40, 44}, false, false, nullptr);
}

void showEditedAndZoomed(MainWindow& w, QSize size) {
  showPreview(w, true, true, size);
  w.findChild<QSlider*>("zoom")->setValue(300);
  auto* transcript = w.findChild<TranscriptView*>("transcript");
  QTest::mouseClick(transcript->viewport(), Qt::LeftButton, {}, transcript->wordFrame(12).center().toPoint());
  QTest::mouseClick(transcript->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                    transcript->wordFrame(14).center().toPoint());
}

// A package reopened after its footage was cut off partway, as a copy broken off leaves it.
void reopenedOverCutOffFootage(Harness& h) {
  StoredCut stored;
  stored.folder = QStringLiteral("Interview take 2 Kestrane");
  stored.footage = QStringLiteral("Interview take 2.mov");
  const QString package = writeStoredCut(h.dir.path(), stored);
  QFile footage(h.dir.filePath(stored.footage));
  if (!footage.resize(footage.size() / 2)) std::fprintf(stderr, "could not cut the footage off\n");
  h.job->openSession(package);
}

}  // namespace

// The cut preview's editors on their own: the waveform in edit mode (a selection being dragged,
// then the hover button), the transcript with struck-through words and its bar, and the
// waveform in listen mode with the playhead part way.
int shootEditors(const QDir& out) {
  std::vector<float> levels(6000);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const double t = double(i) / 100;
    const bool pause = std::fmod(t, 7.0) > 5.6;
    levels[i] = pause ? -68.0f : float(-30 + 18 * std::sin(t * 5.3) * std::sin(t * 1.7));
  }
  std::vector<TimeRange> bands;
  for (double t = 5.6; t < 60; t += 7) bands.push_back({t, t + 1.4});
  std::vector<TranscriptWord> words;
  const QStringList text =
      QStringLiteral(
          "So today I want to show you um how the rough cut comes together and uh why the pauses go. "
          "We start with the footage as it was recorded and let the cut take out what nobody needs to hear.")
          .split(QLatin1Char(' '));
  double t = 0.2;
  for (const QString& w : text) {
    words.push_back({w.toStdString(), {t, t + 0.3}});
    t += (w.endsWith(QLatin1Char('.')) ? 1.6 : 0.38);
  }

  QWidget panel;
  panel.setWindowTitle(QStringLiteral("Cut preview editors"));
  auto* layout = new QVBoxLayout(&panel);
  auto* wave = new WaveformView;
  auto* transcript = new TranscriptView;
  transcript->setFixedHeight(240);
  layout->addWidget(wave);
  layout->addWidget(transcript);
  panel.resize(900, 400);
  wave->setLevels(levels, 0.01);
  wave->setCutBands(bands);
  transcript->setWords(words);
  transcript->setCut({{0.2 + 8 * 0.38, 0.2 + 9 * 0.38}, {5.6, 7.0}, {12.6, 14.0}},
                     {[](double) { return std::optional<QString>(QStringLiteral("a filler")); }});
  panel.show();
  int failures = QTest::qWaitForWindowExposed(&panel) ? 0 : 1;
  const auto save = [&](const char* name) {
    QTest::qWait(100);
    const QString file = out.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (!panel.grab().save(file)) {
      std::fprintf(stderr, "could not write %s\n", qPrintable(file));
      ++failures;
    } else {
      std::printf("%s\n", qPrintable(file));
    }
  };
  wave->setMode(WaveformView::Mode::edit);
  const int y = wave->height() / 2;
  QTest::mousePress(wave, Qt::LeftButton, {}, QPoint(int(wave->xAt(20.5)), y));
  QTest::mouseMove(wave, QPoint(int(wave->xAt(25.5)), y));
  save("editor-edit-selecting");
  QTest::mouseRelease(wave, Qt::LeftButton, {}, QPoint(int(wave->xAt(25.5)), y));
  QTest::mouseMove(wave, QPoint(int(wave->xAt(33)), y));
  QTest::mouseMove(wave, QPoint(int(wave->xAt(33.3)), y));
  const QPoint firstWord = transcript->wordFrame(7).center().toPoint();
  QTest::mouseClick(transcript->viewport(), Qt::LeftButton, {}, firstWord);
  QTest::mouseClick(transcript->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                    transcript->wordFrame(9).center().toPoint());
  save("editor-edit-hover-and-transcript");
  wave->setMode(WaveformView::Mode::listen);
  wave->setPlayhead(31.2);
  save("editor-listen-playhead");
  return failures;
}

// The drop zone with an update on offer: the pulsing link above the glyph.
int shootUpdateBanner(const QDir& out) {
  Harness h;
  NoDesktop desktop;
  kestrane::updater::UpdateChecker::Config config;
  config.currentVersion = "0.1.0";
  config.install =
      kestrane::updater::InstallLocation{"/nonexistent/Kestrane", "/nonexistent/Kestrane/bin/kestrane-app"};
  config.lookup = [] {
    return std::optional<kestrane::updater::UpdateInfo>({"1.3", "https://example.invalid/u.zip", {}, {}});
  };
  kestrane::updater::UpdateChecker updates(config);
  MainWindow window({h.job.get(), &desktop, &desktop, &updates});
  window.show();
  int failures = QTest::qWaitForWindowExposed(&window) ? 0 : 1;
  updates.check();
  pollUntil([&] { return updates.available().has_value(); });
  QTest::qWait(400);  // the glow brightens
  const QString file = out.filePath(QStringLiteral("drop-zone-update.png"));
  if (!window.grab().save(file)) {
    std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    ++failures;
  } else {
    std::printf("%s\n", qPrintable(file));
  }
  return failures;
}

// The paste sheet over the options with nothing pasted yet, so "Use Script" shows disabled.
int shootPasteSheet(const QDir& out) {
  Harness h;
  NoDesktop desktop;
  MainWindow window({h.job.get(), &desktop, &desktop});
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  QGuiApplication::clipboard()->clear();
  h.job->accept({h.touch("Interview take 2.mov")});
  QTest::qWait(50);
  auto* paste = window.findChild<QPushButton*>("pasteScript");
  if (!paste) return 1;
  paste->click();
  QTest::qWait(250);
  auto* sheet = window.findChild<QDialog*>("pasteScriptSheet");
  const QString file = out.filePath(QStringLiteral("paste-script-empty.png"));
  if (!sheet || !sheet->grab().save(file)) {
    std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    return 1;
  }
  std::printf("%s\n", qPrintable(file));
  sheet->reject();
  return 0;
}

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrane-shots FOLDER\n");
    return 2;
  }
  Brand::applyTheme(app);
  const QDir out(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(out.path());

  const std::vector<Shot> shots = {
      {"drop-zone", [](Harness&) {}},
      {"drop-zone-rejected", [](Harness& h) { h.job->accept({h.path("holiday photo.png")}); }},
      {"options-analyzing",
       [](Harness& h) {
         h.engine->analysis.gate.close();
         h.job->accept({h.touch("Interview take 2.mov")});
       }},
      {"options-draft",
       [](Harness& h) {
         speakingMinute(*h.engine);
         h.job->accept({h.touch("Interview take 2.mov")});
         pollUntil([&] { return h.job->draftBands().has_value(); });
       }},
      {"options-output",
       [](Harness& h) {
         speakingMinute(*h.engine);
         h.job->accept({h.touch("Interview take 2.mov")});
         pollUntil([&] { return h.job->draftBands().has_value(); });
       },
       [](MainWindow& w) {
         QScrollBar* bar = w.findChild<QScrollArea*>("optionsForm")->verticalScrollBar();
         bar->setValue(bar->maximum());
       }},
      {"options-preview-edit",
       [](Harness& h) {
         talkingMinute(*h.engine);
         h.job->accept({h.touch("Interview take 2.mov")});
         pollUntil([&] { return h.job->draftBands().has_value(); });
         h.job->forceWords(37, 38, false, nullptr);  // words struck through by hand
       },
       [](MainWindow& w) {
         showPreview(w, true, true);
         // A cut being dragged across kept audio: the red box with its pill.
         auto* wave = w.findChild<WaveformView*>("waveform");
         QTest::mouseMove(wave, QPoint(int(wave->xAt(31)), 60));
         QTest::mousePress(wave, Qt::LeftButton, {}, QPoint(int(wave->xAt(31)), 60));
         QTest::mouseMove(wave, QPoint(int(wave->xAt(35)), 60));
         // Three words picked in the transcript, with their bar.
         auto* transcript = w.findChild<TranscriptView*>("transcript");
         QTest::mouseClick(transcript->viewport(), Qt::LeftButton, {}, transcript->wordFrame(12).center().toPoint());
         QTest::mouseClick(transcript->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                           transcript->wordFrame(14).center().toPoint());
       }},
      {"options-preview-edit-hover",
       [](Harness& h) {
         talkingMinute(*h.engine);
         h.job->accept({h.touch("Interview take 2.mov")});
         pollUntil([&] { return h.job->draftBands().has_value(); });
         h.job->editStretch({40, 44}, false, false, nullptr);
       },
       [](MainWindow& w) {
         showPreview(w, false, true);
         // Near a band's edge the grip lights up; over a stretch its round button shows.
         auto* wave = w.findChild<WaveformView*>("waveform");
         QTest::mouseMove(wave, QPoint(int(wave->xAt(42.8)), 60));
         QTest::mouseMove(wave, QPoint(int(wave->xAt(43.0)), 60));
       }},
      {"options-preview-listen",
       [](Harness& h) {
         talkingMinute(*h.engine);
         h.engine->soundGate.close();  // held while loading, so the button reads Stop
         h.job->accept({h.touch("Interview take 2.mov")});
         pollUntil([&] { return h.job->draftBands().has_value(); });
         h.job->setHoverPlayhead(38.4);
         h.job->scrubAudition(27.5);
       },
       [](MainWindow& w) {
         showPreview(w, false, false);
         // Where the sound would be by now, half-way through the minute.
         w.findChild<WaveformView*>("waveform")->setPlayhead(29.3);
       }},
      // The form at the window's default and least width: a script attached, a hand edit, zoomed
      // in, words picked in the transcript.
      {"options-preview-default-width", editedWithScript, [](MainWindow& w) { showEditedAndZoomed(w, w.size()); }},
      {"options-preview-narrowest", editedWithScript,
       [](MainWindow& w) {
         showEditedAndZoomed(w, {w.minimumWidth(), w.height()});
       }},
      {"options-top-narrowest", editedWithScript, [](MainWindow& w) { w.resize(w.minimumWidth(), w.height()); }},
      {"options-output-narrowest", editedWithScript,
       [](MainWindow& w) {
         w.resize(w.minimumWidth(), w.height());
         QTest::qWait(50);
         QScrollBar* bar = w.findChild<QScrollArea*>("optionsForm")->verticalScrollBar();
         bar->setValue(bar->maximum());
       }},
      {"options-source-missing",
       [](Harness& h) {
         StoredCut stored;
         stored.withTimeline = false;
         stored.withLevels = true;
         const QString package = writeStoredCut(h.dir.path(), stored);
         QFile::remove(h.dir.filePath(stored.footage));
         h.job->openSession(package);
       }},
      {"results-footage-cut-off", reopenedOverCutOffFootage},
      // Re-cutting a package an earlier build cut of footage whose sound drops out at 0:02: shown,
      // played and edited where the file's clock puts its sound.
      {"options-earlier-build-moved",
       [](Harness& h) {
         h.job->openSession(writeEarlierBuildsCut(h.dir.path(), EarlierSound::dropsOut));
         h.footageLookedAt();
         h.job->adjustAndRecut();
         h.footageLookedAt();
       },
       [](MainWindow& w) { showPreview(w, true, false); }},
      // Re-cutting a package whose footage takes long to look at (a long tail of zeros): Play
      // waits for the look, which the header says, with a way to stop it.
      {"options-checking-footage",
       [](Harness& h) {
         StoredCut stored;
         stored.folder = QStringLiteral("Interview take 2 Kestrane");
         stored.footage = QStringLiteral("Interview take 2.mov");
         h.job->openSession(writeStoredCut(h.dir.path(), stored));
         h.footageLookedAt();
         h.job->adjustAndRecut();
         h.footageLookedAt();
         h.engine->footageLookGate.close();
         QFile::copy(h.dir.filePath(stored.footage), h.dir.filePath(stored.footage + ".copy"));
         ::rename(QFile::encodeName(h.dir.filePath(stored.footage + ".copy")).constData(),
                  QFile::encodeName(h.dir.filePath(stored.footage)).constData());
         h.job->lookAgainAtFootage();
         pollUntil([&] { return h.job->lookingLong(); });
       }},
      {"options-footage-cut-off",
       [](Harness& h) {
         reopenedOverCutOffFootage(h);
         h.job->adjustAndRecut();
       }},
      {"running-building-package",
       [](Harness& h) {
         h.engine->cut.stages = {S::probing, S::detectingSilence, S::transcribing, S::decidingEdits, S::exporting};
         h.engine->cut.gate.close();
         h.job->accept({h.touch("Interview take 2.mov")});
         h.job->start();
         pollUntil([&] { return h.job->state().stage == S::exporting; });
       }},
      {"failure",
       [](Harness& h) {
         h.engine->cut.failure = "No speech found in the footage";
         h.job->accept({h.touch("Interview take 2.mov")});
         h.job->start();
         h.waitFor(Screen::failed);
       }},
      {"failure-rough-cut",
       [](Harness& h) {
         // A re-cut whose movie could not be written: the package took the cut, the earlier movie stays.
         const std::filesystem::path package = toPath(h.path("Interview take 2 Kestrane"));
         h.engine->cut.error = std::make_exception_ptr(Pipeline::RoughCutFailed(
             "Export failed: can't write " + (package / "Interview take 2 rough cut.mp4").string() +
                 " \u2014 No space left on device",
             package,
             {"Wrote this cut's timelines, transcript, captions and session file into the package",
              "Kept the rough cut of the earlier cut \u2014 it shows the earlier cut, not this one"}));
         h.job->accept({h.touch("Interview take 2.mov")});
         h.job->start();
         h.waitFor(Screen::failed);
       }},
      {"results-earlier-rough-cut",
       [](Harness& h) {
         // Reopened after that failure: the movie beside the session shows the cut before.
         StoredCut stored;
         stored.withMP4 = true;
         stored.roughCutCutList = CutList{{{{0, 300}, SegmentKind::keep}, {{300, 754.4}, SegmentKind::silence}}};
         h.job->openSession(writeStoredCut(h.dir.path(), stored));
       }},
      {"results-may-be-mixed",
       [](Harness& h) {
         // Reopened after a killed re-cut whose move could not be finished: marked as maybe mixed.
         StoredCut stored;
         stored.withMP4 = true;
         const QString package = writeStoredCut(h.dir.path(), stored);
         QFile mark(QDir(package).filePath(QStringLiteral(".kestrane.mixed")));
         if (mark.open(QIODevice::WriteOnly)) mark.write("marked\n");
         mark.close();
         h.job->openSession(package);
       }},
      {"results-final-cut-mp4",
       [](Harness& h) {
         h.engine->makeOutput = richOutput;
         h.job->setRenderMP4(true);
         h.job->accept({h.touch("Interview take 2.mov")});
         pollUntil([&] { return h.job->preAnalysisState() == PreAnalysisState::ready; });
         h.job->start();
         h.waitFor(Screen::done);
       },
       [](MainWindow& w) { w.findChild<QToolButton*>("reportToggle")->click(); }},
      {"results-footage-ends-early",
       [](Harness& h) {
         h.engine->makeOutput = cutOffOutput;
         h.job->accept({h.touch("Interview take 2.mov")});
         h.job->start();
         h.waitFor(Screen::done);
       }},
      {"results-premiere",
       [](Harness& h) {
         h.job->setExportTarget(ExportTarget::premiere);
         h.job->accept({h.touch("Interview take 2.mov")});
         h.job->start();
         h.waitFor(Screen::done);
       }},
      {"options-batch", batchBeingAnalysed},
      {"options-batch-narrowest", batchBeingAnalysed, [](MainWindow& w) { w.resize(w.minimumWidth(), w.height()); }},
      {"running-batch",
       [](Harness& h) {
         h.engine->cut.stages = {S::probing, S::detectingSilence, S::transcribing, S::decidingEdits, S::exporting};
         h.engine->cut.delay = std::chrono::milliseconds(150);
         h.job->accept({h.touch("Intro.mov"), h.touch("Product demo.mov"), h.touch("Outro.mov")});
         h.job->selectBatchItem(1);
         h.job->setProjectName(QStringLiteral("Product demo"));
         h.job->selectBatchItem(0);
         h.job->setProjectName(QStringLiteral("Intro"));
         h.job->cutAll();
         pollUntil([&] { return h.job->batchStageLabel().value_or(QString()).startsWith("Video 2"); });
         h.engine->cut.gate.close();
         pollUntil([&] { return h.job->state().stage == S::exporting; });
       }},
      {"batch-results-failed",
       [](Harness& h) {
         h.engine->makeOutput = richOutput;
         h.engine->cutFailure = [](const std::filesystem::path& p) -> std::optional<std::string> {
           if (p.filename() == "Product demo.mov") return "That file has no sound track to listen to.";
           return std::nullopt;
         };
         h.job->accept({h.touch("Intro.mov"), h.touch("Product demo.mov"), h.touch("Outro.mov")});
         h.job->setProjectName(QStringLiteral("Intro"));
         h.job->cutAll();
         h.waitFor(Screen::done);
       }},
  };

  int failures = 0;
  for (const Shot& shot : shots) {
    Harness h;
    NoDesktop desktop;
    MainWindow window({h.job.get(), &desktop, &desktop});
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) ++failures;
    shot.setUp(h);
    // A package's footage is heard before the window says whether it can be used.
    h.footageLookedAt();
    QTest::qWait(50);  // let the new screen lay itself out
    shot.touch(window);
    QTest::qWait(250);  // animations settle
    const QString file = out.filePath(QString::fromLatin1(shot.name) + QStringLiteral(".png"));
    if (!window.grab().save(file)) {
      std::fprintf(stderr, "could not write %s\n", qPrintable(file));
      ++failures;
    } else {
      std::printf("%s\n", qPrintable(file));
    }
    h.engine->cut.gate.open();
    h.engine->analysis.gate.open();
    h.engine->soundGate.open();
  }
  failures += shootUpdateBanner(out);
  failures += shootEditors(out);
  failures += shootPasteSheet(out);
  return failures == 0 ? 0 : 1;
}
