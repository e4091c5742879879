// The audition heard through a real sound server (run under with_sound_server.sh): a generated
// recording's cut is played through the default output while its monitor is recorded, and what
// was heard must last as long as the kept ranges and sound like them.
#include <QAudioDevice>
#include <QMediaDevices>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>

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

// Seconds of quiet after the last loud sample; 0 while nothing loud has been heard.
double quietAfterSound(const std::vector<std::int16_t>& s, int rate) {
  const auto last = std::find_if(s.rbegin(), s.rend(), [](std::int16_t v) { return std::abs(v) > 2000; });
  return last == s.rend() ? 0 : double(last - s.rbegin()) / rate;
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

class AuditionSoundTest : public QObject {
  Q_OBJECT

 private slots:
  void whatIsHeardIsTheKeptSound() {
    // The device list fills in from the server after the first ask.
    QTRY_VERIFY_WITH_TIMEOUT(!QMediaDevices::audioOutputs().isEmpty(), 30000);
    if (QMediaDevices::defaultAudioOutput().isNull()) QSKIP("no sound server");
    QTemporaryDir dir;
    const QString footage = dir.filePath(QStringLiteral("tones.wav"));
    writeTones(footage);
    const std::vector<TimeRange> keeps{{0.2, 0.9}, {2.1, 2.8}};

    // The toolkit lists no monitors, so the sound server's own recorder listens.
    constexpr int rate = 24000;
    QProcess recorder;
    recorder.start(QStringLiteral("parec"), {QStringLiteral("--device=audition.monitor"), QStringLiteral("--raw"),
                                             QStringLiteral("--format=s16le"), QStringLiteral("--rate=24000"),
                                             QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
    if (!recorder.waitForStarted(5000)) QSKIP("parec is not available");
    QByteArray recorded;
    const auto heardSoFar = [&] {
      recorded += recorder.readAllStandardOutput();
      std::vector<std::int16_t> samples(std::size_t(recorded.size()) / 2);
      if (!samples.empty()) std::memcpy(samples.data(), recorded.data(), samples.size() * 2);
      return samples;
    };
    // The null output's monitor hands out quiet all the time, so the recorder listens once some
    // has come.
    QTRY_VERIFY_WITH_TIMEOUT(!heardSoFar().empty(), 30000);

    Audition audition;
    audition.start(footage, keeps, std::nullopt);
    QVERIFY(audition.isPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(audition.playhead(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!audition.isPlaying(), 30000);
    QVERIFY(!audition.lastPlayhead());  // played to the end: the next play starts over
    // All that was played has reached the recorder once quiet follows it.
    QTRY_VERIFY_WITH_TIMEOUT(quietAfterSound(heardSoFar(), rate) >= 0.3, 30000);
    recorder.terminate();
    QVERIFY(recorder.waitForFinished(5000));
    const std::vector<std::int16_t> heard = heardSoFar();
    const auto pcm = audition.decoded(footage);
    QVERIFY(pcm);
    KeptRangesDevice kept(pcm, keeps);
    const QByteArray wantBytes = kept.readAll();
    std::vector<std::int16_t> want(std::size_t(wantBytes.size()) / 2);
    std::memcpy(want.data(), wantBytes.data(), want.size() * 2);

    const double heardSeconds = loudSeconds(heard, rate);
    QVERIFY2(std::abs(heardSeconds - 1.4) <= 0.05, qPrintable(QString::number(heardSeconds)));
    const double match = correlation(heard, want, rate);
    QVERIFY2(match > 0.8, qPrintable(QString::number(match)));
  }
};

QTEST_GUILESS_MAIN(AuditionSoundTest)
#include "AuditionSoundTest.moc"
