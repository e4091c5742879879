#pragma once
// Plays the cut as it stands: the recording's sound with every removed stretch skipped, from any
// moment, through the computer's default sound output, with a playhead in source time. With no
// sound output, or footage whose sound cannot be read, it ends silently.
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/core/Background.hpp"
#include "app/core/KeptRangesDevice.hpp"

class QAudioSink;

namespace kestrane::app {

class Audition : public QObject {
  Q_OBJECT

 public:
  // Decodes the footage's first audio track; throws when it cannot be read.
  using Decoder = std::function<AuditionPcm(const QString& footage)>;

  explicit Audition(QObject* parent = nullptr);
  // `decoder` replaces the engine's own decoder (tests).
  Audition(Decoder decoder, QObject* parent = nullptr);
  ~Audition() override;

  bool isPlaying() const { return playing_; }
  std::optional<double> playhead() const { return playhead_; }
  std::optional<double> lastPlayhead() const { return lastPlayhead_; }
  const std::vector<TimeRange>& keeps() const { return keeps_; }

  // Plays `keeps` of `footage` from `at` (a removed moment plays from the next keep). Refused
  // while playing and with nothing kept. The sound is decoded once per footage, off this thread.
  void start(const QString& footage, const std::vector<TimeRange>& keeps, std::optional<double> at);
  void seek(double sourceSeconds);
  void stop();
  // The sound decoded for `footage`, once it is ready (tests and the device).
  std::shared_ptr<const AuditionPcm> decoded(const QString& footage) const;

 signals:
  void changed();

 private:
  void play(std::uint64_t generation, std::optional<double> at);
  void tick();
  void finish();

  Decoder decoder_;
  bool playing_ = false;
  std::optional<double> playhead_;
  std::optional<double> lastPlayhead_;
  std::vector<TimeRange> keeps_;
  // Bumped by every start and stop: a decode finishing under another generation plays nothing.
  std::uint64_t generation_ = 0;
  QString pcmFootage_;
  std::shared_ptr<const AuditionPcm> pcm_;
  std::unique_ptr<KeptRangesDevice> device_;
  std::unique_ptr<QAudioSink> sink_;
  double playedBase_ = 0;  // where in the kept sound the sink started
  qint64 processedBase_ = 0;
  QTimer ticker_;
  Background background_;  // last: a decode still running is stopped and joined first
};

}  // namespace kestrane::app
