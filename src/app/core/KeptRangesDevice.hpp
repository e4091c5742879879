#pragma once
// The recording's sound with every removed stretch skipped: mono 16-bit samples of the kept
// ranges, read one after the other as if they were one recording, and any silence asked for
// after them.
#include <QIODevice>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "kestrane/model/TimeRange.hpp"

namespace kestrane::platform {
class MediaFile;
}

namespace kestrane::app {

// The whole recording's sound, decoded once.
struct AuditionPcm {
  std::vector<std::int16_t> samples;
  int sampleRate = 24000;
  // The file it was decoded from, held so that it can be told from a file put at its path since.
  std::shared_ptr<const platform::MediaFile> file;

  double duration() const { return sampleRate > 0 ? double(samples.size()) / sampleRate : 0; }
};

// Where a moment lies in the kept ranges laid end to end, and back.
namespace KeptTimeline {
// A moment inside a removed stretch maps to the start of the next keep; after the last keep, to
// the end.
double playedSeconds(const std::vector<TimeRange>& keeps, double sourceSeconds);
// A played moment past the last keep maps to that keep's end; none without keeps.
std::optional<double> sourceSeconds(const std::vector<TimeRange>& keeps, double playedSeconds);
}  // namespace KeptTimeline

class KeptRangesDevice : public QIODevice {
  Q_OBJECT

 public:
  KeptRangesDevice(std::shared_ptr<const AuditionPcm> pcm, const std::vector<TimeRange>& keeps,
                   QObject* parent = nullptr);

  bool isSequential() const override { return false; }
  qint64 size() const override { return (totalFrames_ + silenceFrames_) * qint64(sizeof(std::int16_t)); }
  bool atEnd() const override { return pos() >= size(); }
  // Reads `frames` of silence after the kept samples.
  void setSilenceAfter(qint64 frames) { silenceFrames_ = std::max<qint64>(frames, 0); }
  // Positions the next read at `sourceSeconds` (see KeptTimeline::playedSeconds).
  void seekSource(double sourceSeconds);
  double playedSecondsAt(qint64 bytePosition) const;

 protected:
  qint64 readData(char* data, qint64 maxSize) override;
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  struct Span {
    qint64 first = 0;  // sample index in the recording
    qint64 frames = 0;
    qint64 played = 0;  // frames of the spans before
  };

  std::shared_ptr<const AuditionPcm> pcm_;
  std::vector<TimeRange> keeps_;
  std::vector<Span> spans_;
  qint64 totalFrames_ = 0;
  qint64 silenceFrames_ = 0;
};

}  // namespace kestrane::app
