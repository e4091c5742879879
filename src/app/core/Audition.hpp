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

// The footage's first audio track as mono samples at the audition's rate; throws when unreadable.
AuditionPcm decodeAuditionPcm(const QString& footage);

class Audition : public QObject {
  Q_OBJECT

 public:
  // Decodes the footage's first audio track; throws when it cannot be read.
  using Decoder = std::function<AuditionPcm(const QString& footage)>;
  // Whether sound decoded may still be played; asked each time playback is about to start.
  using Accepts = std::function<bool(const AuditionPcm& decoded)>;

  explicit Audition(QObject* parent = nullptr);
  // `decoder` replaces the engine's own decoder (tests).
  Audition(Decoder decoder, QObject* parent = nullptr);
  ~Audition() override;

  bool isPlaying() const { return playing_; }
  std::optional<double> playhead() const { return playhead_; }
  std::optional<double> lastPlayhead() const { return lastPlayhead_; }
  // The playhead, or while the sound is still being read the moment playback will start from.
  std::optional<double> position() const { return playhead_ ? playhead_ : playing_ ? startAt_ : std::nullopt; }
  // Stops and lets go of the footage: its sound, a read ahead still running, where playback
  // last was.
  void forget();
  const std::vector<TimeRange>& keeps() const { return keeps_; }

  // Plays `keeps` of `footage` from `at` (a removed moment plays from the next keep). Refused
  // while playing and with nothing kept. The sound is decoded once per footage, off this thread.
  // A `held` play is playing but sounds only once released; its sound is read meanwhile.
  void start(const QString& footage, const std::vector<TimeRange>& keeps, std::optional<double> at, bool held = false);
  bool isHeld() const { return playing_ && held_; }
  void release();
  // Decodes `footage` ahead of the first start, so that pressing play does not wait for an hour of
  // sound to be read; a start meanwhile waits for this decode instead of beginning another.
  void prepare(const QString& footage);
  void seek(double sourceSeconds);
  void stop();
  // Sound it refuses is let go and the play that found it ends silently; by default all is played.
  void setAccepts(Accepts accepts);
  // The sound decoded for `footage`, once it is ready (tests and the device).
  std::shared_ptr<const AuditionPcm> decoded(const QString& footage) const;

 signals:
  void changed();

 private:
  void play(std::uint64_t generation, std::optional<double> at);
  void decode(const QString& footage, bool ahead, std::uint64_t generation);
  void tick();
  void finish();

  Decoder decoder_;
  Accepts accepts_;
  bool playing_ = false;
  bool held_ = false;
  std::optional<double> playhead_;
  std::optional<double> lastPlayhead_;
  std::optional<double> startAt_;
  std::vector<TimeRange> keeps_;
  // Bumped by every start and stop: a decode finishing under another generation plays nothing.
  std::uint64_t generation_ = 0;
  QString pcmFootage_;
  // The footage a decode ahead is reading, and where a start waiting on it begins.
  QString preparing_;
  QString unreadable_;  // not read ahead again
  // A start waits for the decode ahead, and begins at startAt_ when it lands.
  bool waitingOnPrepare_ = false;
  std::shared_ptr<const AuditionPcm> pcm_;
  std::unique_ptr<KeptRangesDevice> device_;
  std::unique_ptr<QAudioSink> sink_;
  double playedBase_ = 0;  // where in the kept sound the sink started
  qint64 processedBase_ = 0;
  QTimer ticker_;
  Background background_;  // last: a decode still running is stopped and joined first
};

}  // namespace kestrane::app
