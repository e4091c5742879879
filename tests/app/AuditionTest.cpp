// The audition without sound hardware: the kept-ranges device, the time mapping, and starts and
// stops racing a slow decode.
#include <QSignalSpy>
#include <QTest>

#include <QScopeGuard>

#include <future>
#include <numeric>

#include "app/core/Audition.hpp"

using namespace kestrane;
using namespace kestrane::app;

namespace {

// A recording at 1 kHz whose every sample holds its own index.
std::shared_ptr<const AuditionPcm> countingPcm(int frames) {
  auto pcm = std::make_shared<AuditionPcm>();
  pcm->sampleRate = 1000;
  pcm->samples.resize(std::size_t(frames));
  std::iota(pcm->samples.begin(), pcm->samples.end(), std::int16_t(0));
  return pcm;
}

std::vector<std::int16_t> readAllSamples(QIODevice& device, qint64 chunk) {
  std::vector<std::int16_t> out;
  QByteArray bytes;
  for (QByteArray part; !(part = device.read(chunk)).isEmpty();) bytes += part;
  out.resize(std::size_t(bytes.size()) / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::vector<std::int16_t> counting(int from, int to) {
  std::vector<std::int16_t> v(std::size_t(to - from));
  std::iota(v.begin(), v.end(), std::int16_t(from));
  return v;
}

}  // namespace

class AuditionTest : public QObject {
  Q_OBJECT

 private slots:
  void deviceReadsOnlyTheKeptSamples() {
    KeptRangesDevice device(countingPcm(1000), {{0.1, 0.2}, {0.5, 0.55}, {0.9, 1.5}});
    std::vector<std::int16_t> want = counting(100, 200);
    for (int from : {500, 900}) {
      const auto more = counting(from, from == 500 ? 550 : 1000);  // the last keep runs past the end
      want.insert(want.end(), more.begin(), more.end());
    }
    QCOMPARE(device.size(), qint64(want.size() * 2));
    QCOMPARE(readAllSamples(device, 14), want);  // reads that straddle keeps
    // A moment inside a removed stretch plays from the next keep.
    device.seekSource(0.3);
    QCOMPARE(readAllSamples(device, 4096).front(), std::int16_t(500));
    device.seekSource(0.15);
    QCOMPARE(readAllSamples(device, 4096).front(), std::int16_t(150));
    device.seekSource(5);
    QVERIFY(device.atEnd());
  }

  // Silence after the cut, for an output that plays only once it holds a buffer's worth: it
  // follows the last kept sample, a read that straddles them takes both, and a seek past the
  // cut leaves just it to read.
  void deviceReadsSilenceAfterTheCutWhenAsked() {
    KeptRangesDevice device(countingPcm(1000), {{0.1, 0.2}, {0.9, 1.0}});
    device.setSilenceAfter(30);
    QCOMPARE(device.size(), qint64((200 + 30) * 2));
    device.seekSource(0.98);
    std::vector<std::int16_t> tail = counting(980, 1000);
    tail.resize(tail.size() + 30, 0);
    QCOMPARE(readAllSamples(device, 14), tail);
    QVERIFY(device.atEnd());
    device.seekSource(5);
    QCOMPARE(readAllSamples(device, 4096), std::vector<std::int16_t>(30, 0));
  }

  void playedTimeMapsBackToTheSource() {
    const std::vector<TimeRange> keeps{{1, 2}, {5, 6}};
    QCOMPARE(KeptTimeline::playedSeconds(keeps, 3), 1.0);
    QCOMPARE(KeptTimeline::playedSeconds(keeps, 5.5), 1.5);
    QCOMPARE(KeptTimeline::playedSeconds(keeps, 9), 2.0);
    QCOMPARE(KeptTimeline::sourceSeconds(keeps, 1.5), std::optional<double>(5.5));
    QCOMPARE(KeptTimeline::sourceSeconds(keeps, 7), std::optional<double>(6));  // stays at the end
    QVERIFY(!KeptTimeline::sourceSeconds({}, 1));
  }

  void aStaleDecodeNeverPlaysAndNoOutputEndsSilently() {
    std::vector<std::promise<void>> gates(2);
    std::vector<std::shared_future<void>> opened{gates[0].get_future().share(), gates[1].get_future().share()};
    std::atomic<int> calls = 0;
    Audition audition([&](const QString&) {
      opened[std::size_t(calls++)].wait();
      return *countingPcm(3000);
    });
    // Gates left shut by a failed check would hold the decode threads the audition joins;
    // declared after it, this opens them first.
    const auto openAll = qScopeGuard([&] {
      for (auto& gate : gates) {
        try {
          gate.set_value();
        } catch (const std::future_error&) {
        }
      }
    });
    audition.start(QStringLiteral("a.mov"), {}, std::nullopt);
    QVERIFY(!audition.isPlaying());  // nothing kept: nothing happens
    audition.start(QStringLiteral("a.mov"), {{0, 1}, {2, 3}}, std::nullopt);
    QVERIFY(audition.isPlaying());
    QTRY_COMPARE_WITH_TIMEOUT(calls.load(), 1, 30000);  // the first start's decode holds gate 0
    audition.stop();
    audition.start(QStringLiteral("a.mov"), {{0, 1}, {2, 3}}, 2.5);
    QTRY_COMPARE_WITH_TIMEOUT(calls.load(), 2, 30000);
    gates[0].set_value();
    QTRY_VERIFY_WITH_TIMEOUT(audition.decoded(QStringLiteral("a.mov")), 30000);
    // The first decode finished under a stopped start: it is kept but does not play.
    QVERIFY(audition.isPlaying());
    QVERIFY(!audition.playhead());
    gates[1].set_value();
    // There is no sound output here: the audition ends instead of playing silence.
    QTRY_VERIFY_WITH_TIMEOUT(!audition.isPlaying(), 30000);
    // A footage whose sound cannot be read ends the same way.
    Audition unreadable([](const QString&) -> AuditionPcm { throw std::runtime_error("no sound"); });
    unreadable.start(QStringLiteral("b.mov"), {{0, 1}}, std::nullopt);
    QTRY_VERIFY_WITH_TIMEOUT(!unreadable.isPlaying(), 30000);
  }
};

QTEST_GUILESS_MAIN(AuditionTest)
#include "AuditionTest.moc"
