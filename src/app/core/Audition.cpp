#include "app/core/Audition.hpp"

#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>

#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/MonoResampler.hpp"

namespace kestrane::app {

namespace {

// Plenty for speech, and half the memory of a 48 kHz copy of an hour.
constexpr int auditionRate = 24000;
constexpr int tickMs = 30;
// Silence enough to follow any cut until the audition ends it: about five days at the rate.
constexpr qint64 kEndlessSilence = qint64{1} << 33;

}  // namespace

AuditionPcm decodeAuditionPcm(const QString& footage) {
  // A pipe at the path would hold this thread in its opening, and the window could not quit: the
  // file is opened without waiting, and only a plain file is read.
  std::shared_ptr<const platform::MediaFile> file;
  try {
    file = platform::MediaFile::open(footage.toStdString());
  } catch (const platform::MediaFileError& e) {
    throw MediaProbe::ProbeError::unreadable(footage.toStdString(), e.reason());
  }
  AuditionPcm pcm;
  pcm.sampleRate = auditionRate;
  pcm.file = file;
  std::unique_ptr<platform::MonoResampler> resampler;
  std::vector<float> mono;
  platform::decodeAudio(file, [&](const platform::AudioBlock& block) {
    if (!resampler) resampler = std::make_unique<platform::MonoResampler>(int(block.sampleRate), auditionRate);
    mono.resize(block.frames);
    for (std::size_t f = 0; f < block.frames; ++f) {
      float sum = 0;
      for (int c = 0; c < block.channels; ++c)
        sum += block.interleaved[f * std::size_t(block.channels) + std::size_t(c)];
      mono[f] = sum / float(block.channels);
    }
    resampler->push(mono.data(), mono.size(), pcm.samples);
  });
  if (resampler) resampler->flush(pcm.samples);
  return pcm;
}

Audition::Audition(QObject* parent) : Audition(decodeAuditionPcm, parent) {}

Audition::Audition(Decoder decoder, QObject* parent) : QObject(parent), decoder_(std::move(decoder)) {
  ticker_.setInterval(tickMs);
  connect(&ticker_, &QTimer::timeout, this, &Audition::tick);
}

Audition::~Audition() { sink_.reset(); }

std::shared_ptr<const AuditionPcm> Audition::decoded(const QString& footage) const {
  return footage == pcmFootage_ ? pcm_ : nullptr;
}

void Audition::start(const QString& footage, const std::vector<TimeRange>& keeps, std::optional<double> at, bool held) {
  if (playing_ || footage.isEmpty() || keeps.empty()) return;
  keeps_ = keeps;
  playing_ = true;
  held_ = held;
  startAt_ = at;
  const std::uint64_t generation = ++generation_;
  emit changed();
  if (footage == pcmFootage_ && pcm_) {
    if (!held_) play(generation, at);
    return;
  }
  if (footage == preparing_) {
    waitingOnPrepare_ = true;  // the decode ahead starts this one when it lands, if nothing came between
    return;
  }
  decode(footage, false, generation);
}

void Audition::release() {
  if (!playing_ || !held_) return;
  held_ = false;
  // A decode still under way begins the play when it lands.
  if (sink_ || waitingOnPrepare_ || !pcm_) return;
  play(generation_, startAt_);
}

void Audition::prepare(const QString& footage) {
  if (footage.isEmpty() || footage == preparing_ || footage == unreadable_ || (footage == pcmFootage_ && pcm_)) {
    return;
  }
  preparing_ = footage;
  decode(footage, true, generation_);
}

void Audition::decode(const QString& footage, bool ahead, std::uint64_t generation) {
  background_.start([this, footage, ahead, generation](std::stop_token) {
    std::shared_ptr<const AuditionPcm> pcm;
    try {
      pcm = std::make_shared<const AuditionPcm>(decoder_(footage));
    } catch (const std::exception&) {
      // Unreadable sound: the audition ends without a word.
    }
    postTo(this, [this, footage, ahead, generation, pcm] {
      if (ahead && footage != preparing_) return;  // forgotten meanwhile
      if (pcm) {
        pcmFootage_ = footage;
        pcm_ = pcm;
      } else {
        unreadable_ = footage;
      }
      if (ahead) {
        preparing_.clear();
        // A start that waited on this decode, if no stop or other start came since.
        if (!waitingOnPrepare_ || !playing_) return;
        waitingOnPrepare_ = false;
      } else if (generation != generation_) {
        return;
      }
      if (!pcm) {
        stop();
        return;
      }
      if (!held_) play(generation_, startAt_);
    });
  });
}

void Audition::setAccepts(Accepts accepts) { accepts_ = std::move(accepts); }

void Audition::play(std::uint64_t generation, std::optional<double> at) {
  if (accepts_ && !accepts_(*pcm_)) {
    // Sound of a file that is no longer the footage is never heard: it goes, and so does this play.
    pcm_.reset();
    pcmFootage_.clear();
    stop();
    return;
  }
  device_ = std::make_unique<KeptRangesDevice>(pcm_, keeps_);
  const QAudioDevice output = QMediaDevices::defaultAudioOutput();
  QAudioFormat format;
  format.setSampleRate(pcm_->sampleRate);
  format.setChannelCount(1);
  format.setSampleFormat(QAudioFormat::Int16);
  if (output.isNull() || !output.isFormatSupported(format)) {
    stop();  // nothing to play through: end rather than stay "playing" in silence
    return;
  }
  sink_ = std::make_unique<QAudioSink>(output, format);
  connect(sink_.get(), &QAudioSink::stateChanged, this, [this, generation](QAudio::State state) {
    if (generation != generation_) return;
    if (state == QAudio::StoppedState && sink_ && sink_->error() != QAudio::NoError) stop();
  });
  seek(at.value_or(keeps_.front().start));
  if (generation == generation_) ticker_.start();
}

void Audition::seek(double sourceSeconds) {
  if (!playing_) return;
  if (!device_ || !sink_) {
    // Not sounding yet: the play begins there.
    startAt_ = sourceSeconds;
    emit changed();
    return;
  }
  sink_->stop();
  device_->seekSource(sourceSeconds);
  playedBase_ = device_->playedSecondsAt(device_->pos());
  playhead_ = lastPlayhead_ = sourceSeconds;
  emit changed();
  sink_->start(device_.get());
  // Silence follows the cut without end, and the audition ends once the output has taken a
  // buffer's worth of it (tick): the sound server starts to play (and again after running dry)
  // only once it holds up to its buffer's worth, so the cut's last moments are heard, played
  // from close to its end or after a busy machine let the server run dry near it; and the output
  // never runs out and asks the server to drain, whose answer can reach a sink already deleted.
  device_->setSilenceAfter(kEndlessSilence);
  processedBase_ = sink_->processedUSecs();
  if (sink_->error() != QAudio::NoError) stop();
}

void Audition::tick() {
  if (!sink_) return;
  const double played = playedBase_ + double(sink_->processedUSecs() - processedBase_) / 1e6;
  const double cut = KeptTimeline::playedSeconds(keeps_, keeps_.back().end);
  // The server holds no more than its buffer, so once a buffer's worth past the cut has gone to
  // it the whole cut has been heard.
  const double held = double(sink_->bufferSize()) / (double(sizeof(std::int16_t)) * pcm_->sampleRate);
  if (played >= cut + held) return finish();
  playhead_ = KeptTimeline::sourceSeconds(keeps_, played);
  if (played <= cut) lastPlayhead_ = playhead_;
  emit changed();
}

void Audition::finish() {
  stop();
  lastPlayhead_.reset();  // the next play starts from the beginning
  emit changed();
}

void Audition::forget() {
  stop();
  pcm_.reset();  // an hour of sound is a few hundred megabytes
  pcmFootage_.clear();
  preparing_.clear();
  unreadable_.clear();
  if (!lastPlayhead_) return;
  lastPlayhead_.reset();
  emit changed();
}

void Audition::stop() {
  ++generation_;
  waitingOnPrepare_ = false;
  held_ = false;
  ticker_.stop();
  if (sink_) {
    sink_->disconnect(this);
    sink_->stop();
  }
  sink_.reset();
  device_.reset();
  const bool was = playing_ || playhead_;
  playing_ = false;
  playhead_.reset();
  if (was) emit changed();
}

}  // namespace kestrane::app
