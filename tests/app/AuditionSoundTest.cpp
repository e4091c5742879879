// The audition heard through a real sound server (run under with_sound_server.sh): a generated
// recording's cut is played through the default output while its monitor is recorded, and what
// was heard, from the start or from the cut's last moments, must last as long as the kept sound
// and sound like it.
#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <optional>
#include <vector>

#include "app/core/Audition.hpp"

using namespace kestrane;
using namespace kestrane::app;

namespace {

constexpr int fileRate = 48000;

// Three seconds of tones, a different pitch each second, as a 16-bit mono WAV.
void writeTones(const QString& path) {
  std::vector<std::int16_t> samples(std::size_t(3 * fileRate));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double t = double(i) / fileRate;
    const double pitch = t < 1 ? 440 : t < 2 ? 660 : 990;
    samples[i] = std::int16_t(12000 * std::sin(2 * std::numbers::pi * pitch * t));
  }
  std::ofstream out(path.toStdString(), std::ios::binary);
  const auto put32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  const auto put16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const auto bytes = std::uint32_t(samples.size() * 2);
  out.write("RIFF", 4);
  put32(36 + bytes);
  out.write("WAVEfmt ", 8);
  put32(16);
  put16(1);
  put16(1);
  put32(fileRate);
  put32(fileRate * 2);
  put16(2);
  put16(16);
  out.write("data", 4);
  put32(bytes);
  out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

std::size_t firstLoud(const std::vector<std::int16_t>& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (std::abs(s[i]) > 2000) return i;
  }
  return s.size();
}

// The time spent loud, counted in 10 ms windows.
double loudSeconds(const std::vector<std::int16_t>& s, int rate) {
  const std::size_t window = std::size_t(rate / 100);
  int loud = 0;
  for (std::size_t i = 0; i + window <= s.size(); i += window) {
    double sum = 0;
    for (std::size_t j = i; j < i + window; ++j) sum += double(s[j]) * s[j];
    if (std::sqrt(sum / double(window)) > 1000) ++loud;
  }
  return loud / 100.0;
}

// Seconds of quiet after the last loud sample; all of `s` while nothing loud has been heard.
double quietAfterSound(const std::vector<std::int16_t>& s, int rate) {
  const auto last = std::find_if(s.rbegin(), s.rend(), [](std::int16_t v) { return std::abs(v) > 2000; });
  return double(last - s.rbegin()) / rate;
}

// Whether the sound server ran dry while `s` played: digital silence of 2 ms or more between its
// first and last loud samples, which the tones never hold. It does so when a busy machine leaves
// the audition unfed for longer than the server's buffer, and drops some of what comes late.
bool brokenBySilence(const std::vector<std::int16_t>& s, int rate) {
  const auto loud = [](std::int16_t v) { return std::abs(v) > 2000; };
  const auto first = std::find_if(s.begin(), s.end(), loud);
  const auto last = std::find_if(s.rbegin(), s.rend(), loud).base();
  std::ptrdiff_t silent = 0;
  for (auto i = first; i < last; ++i) {
    silent = *i == 0 ? silent + 1 : 0;
    if (silent >= rate / 500) return true;
  }
  return false;
}

// The best normalised correlation of `heard` against `want`, both from their first loud sample,
// over small shifts.
double correlation(const std::vector<std::int16_t>& heard, const std::vector<std::int16_t>& want, int rate) {
  const std::size_t h0 = firstLoud(heard);
  const std::size_t w0 = firstLoud(want);
  const std::size_t n = want.size() - w0;
  double best = -1;
  for (int lag = -rate / 50; lag <= rate / 50; ++lag) {
    double xy = 0;
    double xx = 0;
    double yy = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const auto j = std::ptrdiff_t(h0 + i) + lag;
      if (j < 0 || std::size_t(j) >= heard.size()) continue;
      const double x = heard[std::size_t(j)];
      const double y = want[w0 + i];
      xy += x * y;
      xx += x * x;
      yy += y * y;
    }
    if (xx > 0 && yy > 0) best = std::max(best, xy / std::sqrt(xx * yy));
  }
  return best;
}

}  // namespace

// Set when a check could not be made, so the run ends as skipped rather than passed.
bool skipped = false;

class AuditionSoundTest : public QObject {
  Q_OBJECT

  static constexpr int rate = 24000;
  QTemporaryDir dir_;
  QString footage_;
  QProcess recorder_;
  QByteArray recorded_;

  // All the recorder has heard so far, from sample `from` on.
  std::vector<std::int16_t> heardSince(std::size_t from) {
    recorded_ += recorder_.readAllStandardOutput();
    const std::size_t count = std::size_t(recorded_.size()) / 2;
    std::vector<std::int16_t> samples(count - std::min(from, count));
    if (!samples.empty()) std::memcpy(samples.data(), recorded_.data() + from * 2, samples.size() * 2);
    return samples;
  }
  std::size_t heardSamples() {
    recorded_ += recorder_.readAllStandardOutput();
    return std::size_t(recorded_.size()) / 2;
  }

  // What the monitor heard of `keeps` of the tones played from `at`, taken once the audition has
  // ended and the recorder has gone on to hear 0.3 s of quiet after it: all that was played is in
  // by then. A playing the server broke off for want of sound is played again: it says how busy
  // the machine was, not what the audition plays. Empty when every one of a few was broken.
  void hear(const std::vector<TimeRange>& keeps, std::optional<double> at, std::vector<std::int16_t>& heard) {
    constexpr int attempts = 5;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
      const std::size_t from = heardSamples();
      Audition audition;
      audition.start(footage_, keeps, at);
      QVERIFY(audition.isPlaying());
      QTRY_VERIFY_WITH_TIMEOUT(audition.playhead(), 30000);
      QTRY_VERIFY_WITH_TIMEOUT(!audition.isPlaying(), 30000);
      QVERIFY(!audition.lastPlayhead());  // played to the end: the next play starts over
      const std::size_t ended = heardSamples();
      QTRY_VERIFY_WITH_TIMEOUT(
          heardSamples() - ended >= rate * 3 / 10 && quietAfterSound(heardSince(from), rate) >= 0.3, 30000);
      heard = heardSince(from);
      if (!brokenBySilence(heard, rate)) return;
      qInfo("Playing %d of %d broke off: the sound server ran dry, so it is played again.", attempt, attempts);
    }
    heard.clear();
  }

  // The kept sound of `keeps` from `at`, as the audition hands it to the output.
  std::vector<std::int16_t> kept(const std::vector<TimeRange>& keeps, std::optional<double> at) {
    const std::shared_ptr<const AuditionPcm> pcm = std::make_shared<const AuditionPcm>(decodeAuditionPcm(footage_));
    KeptRangesDevice device(pcm, keeps);
    if (at) device.seekSource(*at);
    const QByteArray bytes = device.readAll();
    std::vector<std::int16_t> samples(std::size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
  }

  // Plays `keeps` from `at` and checks that what is heard lasts as long as the kept sound from
  // there and sounds like it.
  void heardAsKept(const std::vector<TimeRange>& keeps, std::optional<double> at) {
    std::vector<std::int16_t> heard;
    hear(keeps, at, heard);
    if (QTest::currentTestFailed()) return;
    if (heard.empty()) {
      skipped = true;
      QSKIP("every playing broke off: the machine was too busy to keep the sound server fed");
    }
    const std::vector<std::int16_t> want = kept(keeps, at);
    const double heardSeconds = loudSeconds(heard, rate);
    const double wantSeconds = double(want.size()) / rate;
    QVERIFY2(std::abs(heardSeconds - wantSeconds) <= 0.05,
             qPrintable(QStringLiteral("%1 s heard of %2 s").arg(heardSeconds).arg(wantSeconds)));
    const double match = correlation(heard, want, rate);
    QVERIFY2(match > 0.8, qPrintable(QString::number(match)));
  }

 private slots:
  void initTestCase() {
    // The device list fills in from the server after the first ask.
    QTRY_VERIFY_WITH_TIMEOUT(!QMediaDevices::audioOutputs().isEmpty(), 30000);
    if (QMediaDevices::defaultAudioOutput().isNull()) {
      skipped = true;
      QSKIP("no sound server");
    }
    QVERIFY(dir_.isValid());
    footage_ = dir_.filePath(QStringLiteral("tones.wav"));
    writeTones(footage_);
    // The toolkit lists no monitors, so the sound server's own recorder listens.
    recorder_.start(QStringLiteral("parec"), {QStringLiteral("--device=audition.monitor"), QStringLiteral("--raw"),
                                              QStringLiteral("--format=s16le"), QStringLiteral("--rate=24000"),
                                              QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
    if (!recorder_.waitForStarted(5000)) {
      skipped = true;
      QSKIP("parec is not available");
    }
    // The null output's monitor hands out quiet all the time, so the recorder listens once some
    // has come.
    QTRY_VERIFY_WITH_TIMEOUT(heardSamples() > 0, 30000);
  }

  void cleanupTestCase() {
    recorder_.terminate();
    recorder_.waitForFinished(5000);
  }

  void whatIsHeardIsTheKeptSound() { heardAsKept({{0.2, 0.9}, {2.1, 2.8}}, std::nullopt); }

  // Less of the cut is left than the server holds before it starts to play: all of it is heard.
  void aPlayFromTheCutsLastMomentsIsHeard() { heardAsKept({{0.2, 0.9}, {2.1, 2.8}}, 2.72); }
};

// A check that could not be made ends the run with CTest's skip status, never as passed.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  AuditionSoundTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  const int failures = QTest::qExec(&test, argc, argv);
  return failures != 0 ? 1 : skipped ? 77 : 0;
}

#include "AuditionSoundTest.moc"
