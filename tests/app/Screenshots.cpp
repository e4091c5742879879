// kestrane-shots FOLDER: puts the window into each named state over the scripted engine and
// saves a picture of it as FOLDER/<state>.png. Test-only; never installed.
#include <QApplication>
#include <QDir>
#include <QTest>
#include <QToolButton>

#include <cstdio>
#include <functional>

#include "AppTestSupport.hpp"
#include "app/views/Brand.hpp"
#include "app/views/MainWindow.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;
using S = Pipeline::Stage;

namespace {

Pipeline::Output richOutput(const std::filesystem::path& footage, const PipelineSettings& settings) {
  Pipeline::Output out = sampleOutput(footage, settings);
  out.session.advisories = std::vector<Advisory>{{{61.7, 63}, "Two takes of this line were close; the second one won."},
                                                 {{312.2, 314}, "A breath right before the cut."}};
  out.session.editorNotes = std::vector<Advisory>{{{140, 142}, "Put the product shot here"},
                                                  {{400, 401}, "Use the wide angle"}};
  out.warnings = {"The script's last line was never read."};
  return out;
}

bool waitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) QTest::qWait(10);
  return done();
}

struct Shot {
  const char* name;
  std::function<void(Harness&)> setUp;  // leaves the model in the state to picture
  std::function<void(MainWindow&)> touch = [](MainWindow&) {};
};

}  // namespace

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
      {"running-building-package",
       [](Harness& h) {
         h.engine->cut.stages = {S::probing, S::detectingSilence, S::transcribing, S::decidingEdits, S::exporting};
         h.engine->cut.gate.close();
         h.job->accept({h.touch("Interview take 2.mov")});
         h.job->start();
         waitUntil([&] { return h.job->state().stage == S::exporting; });
       }},
      {"failure",
       [](Harness& h) {
         h.engine->cut.failure = "No speech found in the footage";
         h.job->accept({h.touch("Interview take 2.mov")});
         h.job->start();
         h.waitFor(Screen::failed);
       }},
      {"results-final-cut-mp4",
       [](Harness& h) {
         h.engine->makeOutput = richOutput;
         h.job->setRenderMP4(true);
         h.job->accept({h.touch("Interview take 2.mov")});
         waitUntil([&] { return h.job->preAnalysisState() == PreAnalysisState::ready; });
         h.job->start();
         h.waitFor(Screen::done);
       },
       [](MainWindow& w) { w.findChild<QToolButton*>("reportToggle")->click(); }},
      {"results-premiere",
       [](Harness& h) {
         h.job->setExportTarget(ExportTarget::premiere);
         h.job->accept({h.touch("Interview take 2.mov")});
         h.job->start();
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
  }
  return failures == 0 ? 0 : 1;
}
