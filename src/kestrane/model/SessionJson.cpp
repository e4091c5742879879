#include "kestrane/model/SessionJson.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <numeric>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/JsonText.hpp"
#include "kestrane/model/Utf8Text.hpp"

namespace kestrane::SessionJson {

using nlohmann::json;

// ---- Encoding -------------------------------------------------------------------------------

namespace {

json enc(double v) { return json(v); }
json enc(std::int64_t v) { return json(v); }
json enc(int v) { return json(static_cast<std::int64_t>(v)); }
json enc(bool v) { return json(v); }
json enc(const std::string& v) { return json(v); }

template <class E>
requires std::is_enum_v<E> json enc(E v) { return json(std::string(rawValue(v))); }

json enc(const RationalTime& t) { return {{"value", t.value}, {"timescale", static_cast<std::int64_t>(t.timescale)}}; }
json enc(const TimeRange& r) { return {{"start", r.start}, {"end", r.end}}; }

json enc(const RationalTime& t);
json enc(const TimeRange& r);
json enc(const SourceMedia& s);
json enc(const TranscriptWord& w);
json enc(const Transcript& t);
json enc(const SilenceSpan& s);
json enc(const Segment& s);
json enc(const CutList& c);
json enc(const TakeGroupInfo& g);
json enc(const Advisory& a);
json enc(const LevelData& l);
json enc(const MovieIdentity& m);
json enc(const PipelineSettings& s);
json enc(const ComponentVocabulary& v);
json enc(const BrandSpec& b);
json enc(const GraphicsAsset& a);
json enc(const std::map<std::string, std::string>& m);

// A session of a long recording holds millions of words and hand edits: its lists look at the
// job's stop as they go.
constexpr std::size_t kItemsBetweenChecks = 4096;

// Text this long comes from a document whose freeing would hold up the caller.
constexpr std::size_t kLargeText = 8u << 20;

// The document `build` fills in; one left unfinished by a stop is freed aside, so the stop is
// not held up by freeing what was built.
template <class Build>
json built(json out, Build build) {
  try {
    build(out);
  } catch (const Cancelled&) {
    JsonText::freeAside(std::move(out));
    throw;
  }
  return out;
}

template <class T>
json enc(const std::vector<T>& list) {
  return built(json::array(), [&list](json& out) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      if ((i + 1) % kItemsBetweenChecks == 0) checkpoint();
      out.push_back(enc(list[i]));
    }
  });
}

json enc(const std::map<std::string, std::string>& m) {
  json out = json::object();
  for (const auto& [k, v] : m) out[k] = v;
  return out;
}

template <class T>
void put(json& obj, const char* key, const std::optional<T>& value) {
  if (value) obj[key] = enc(*value);
}

json enc(const SourceMedia& s) {
  json o{{"path", s.path},
         {"durationSeconds", s.durationSeconds},
         {"frameDuration", enc(s.frameDuration)},
         {"width", s.width},
         {"height", s.height},
         {"hasVideo", s.hasVideo},
         {"audioSampleRate", s.audioSampleRate}};
  put(o, "pictureEndSeconds", s.pictureEndSeconds);
  put(o, "audioChannelCount", s.audioChannelCount);
  put(o, "startTimecode", s.startTimecode);
  put(o, "timecodeIsDropFrame", s.timecodeIsDropFrame);
  // A path that is not UTF-8 shows with replacement characters in "path"; the exact bytes
  // ride beside it so the footage can still be found.
  if (!Utf8Text::isValid(s.path)) o["pathBytes"] = Utf8Text::escaped(s.path);
  return o;
}

json enc(const TranscriptWord& w) { return {{"text", w.text}, {"range", enc(w.range)}}; }
json enc(const Transcript& t) { return {{"words", enc(t.words)}}; }
json enc(const SilenceSpan& s) { return {{"range", enc(s.range)}, {"meanLevelDBFS", s.meanLevelDBFS}}; }

json enc(const Segment& s) {
  json o{{"range", enc(s.range)}, {"kind", enc(s.kind)}};
  put(o, "reason", s.reason);
  put(o, "takeGroup", s.takeGroup);
  return o;
}

json enc(const CutList& c) { return {{"segments", enc(c.segments)}}; }

json enc(const TakeGroupInfo& g) {
  json o{{"id", g.id}, {"winnerRange", enc(g.winnerRange)}};
  put(o, "alternateRanges", g.alternateRanges);
  return o;
}

json enc(const Advisory& a) { return {{"range", enc(a.range)}, {"note", a.note}}; }
json enc(const LevelData& l) {
  json o = {{"hopDuration", l.hopDuration}, {"base64", l.base64}};
  if (!l.speechBase64.empty()) o["speechBase64"] = l.speechBase64;
  return o;
}
json enc(const MovieIdentity& m) {
  json o{{"size", m.size}, {"modifiedSeconds", m.modifiedSeconds}, {"modifiedNanoseconds", m.modifiedNanoseconds}};
  // Beside the members an earlier build reads, which skips what it does not know.
  put(o, "sampledSHA256", m.sampledSHA256);
  return o;
}

json enc(const PipelineSettings& s) {
  json o{{"silenceThresholdDBFS", s.silenceThresholdDBFS},
         {"minSilenceDuration", s.minSilenceDuration},
         {"speechPadding", s.speechPadding},
         {"removeFillers", s.removeFillers}};
  put(o, "dedupRepeatedLines", s.dedupRepeatedLines);
  put(o, "embedCaptions", s.embedCaptions);
  put(o, "subtitleLength", s.subtitleLength);
  put(o, "exportTarget", s.exportTarget);
  put(o, "manualKeepRanges", s.manualKeepRanges);
  put(o, "manualRemoveRanges", s.manualRemoveRanges);
  put(o, "aiAdjudication", s.aiAdjudication);
  put(o, "thoroughness", s.thoroughness);
  put(o, "graphicsLimit", s.graphicsLimit);
  put(o, "graphicsDensity", s.graphicsDensity);
  put(o, "graphicsFormat", s.graphicsFormat);
  put(o, "graphicsConcurrency", s.graphicsConcurrency);
  return o;
}

json enc(const ComponentVocabulary& v) {
  return {{"fontFamilies", enc(v.fontFamilies)},
          {"typeScale", enc(v.typeScale)},
          {"colors", enc(v.colors)},
          {"cornerRadii", enc(v.cornerRadii)},
          {"letterSpacing", enc(v.letterSpacing)},
          {"textTransform", enc(v.textTransform)},
          {"eases", enc(v.eases)},
          {"motionDurations", enc(v.motionDurations)},
          {"staggers", enc(v.staggers)},
          {"components", enc(v.components)},
          {"styleExcerpts", enc(v.styleExcerpts)},
          {"derivedFrom", enc(v.derivedFrom)}};
}

json enc(const BrandSpec& b) {
  json o{{"name", b.name}};
  put(o, "websiteURL", b.websiteURL);
  put(o, "colors", b.colors);
  put(o, "fonts", b.fonts);
  put(o, "styleWords", b.styleWords);
  put(o, "notes", b.notes);
  put(o, "safeZonesVertical", b.safeZonesVertical);
  put(o, "safeZonesHorizontal", b.safeZonesHorizontal);
  put(o, "componentVocabulary", b.componentVocabulary);
  return o;
}

json enc(const GraphicsAsset& a) {
  json o{{"name", a.name},
         {"fileName", a.fileName},
         {"placementSeconds", a.placementSeconds},
         {"kind", enc(a.kind)},
         {"durationSeconds", a.durationSeconds}};
  put(o, "relativePath", a.relativePath);
  put(o, "renderSeconds", a.renderSeconds);
  put(o, "failure", a.failure);
  put(o, "anchorText", a.anchorText);
  put(o, "anchoredToTranscript", a.anchoredToTranscript);
  put(o, "spokenSeconds", a.spokenSeconds);
  put(o, "estimatedPlacementSeconds", a.estimatedPlacementSeconds);
  return o;
}

json enc(const KestraneSession& s) {
  return built(json::object(), [&s](json& o) {
    o["version"] = s.version;
    o["source"] = enc(s.source);
    o["settings"] = enc(s.settings);
    put(o, "projectName", s.projectName);
    put(o, "script", s.script);
    put(o, "projectNotes", s.projectNotes);
    put(o, "createMotionGraphics", s.createMotionGraphics);
    put(o, "brandSpec", s.brandSpec);
    put(o, "graphicsNotes", s.graphicsNotes);
    put(o, "warnings", s.warnings);
    put(o, "graphicsAssets", s.graphicsAssets);
    put(o, "silences", s.silences);
    put(o, "transcript", s.transcript);
    put(o, "cutList", s.cutList);
    put(o, "roughCutCutList", s.roughCutCutList);
    put(o, "roughCutMovie", s.roughCutMovie);
    put(o, "advisories", s.advisories);
    put(o, "editorNotes", s.editorNotes);
    put(o, "levels", s.levels);
    put(o, "takeGroups", s.takeGroups);
    o["soundTiming"] = enc(s.soundTiming);
  });
}

}  // namespace

std::string encode(const KestraneSession& session) {
  json document;
  try {
    document = enc(session);
    std::string text = JsonText::pretty(document);
    if (text.size() > kLargeText) JsonText::freeAside(std::move(document));
    return text;
  } catch (const std::domain_error&) {
    throw SessionFileError("The session holds a number that is not finite, so it can't be saved.");
  } catch (const Cancelled&) {
    JsonText::freeAside(std::move(document));
    throw;
  }
}

// ---- Decoding -------------------------------------------------------------------------------

namespace {

// A decoding failure at a member path such as "cutList.segments[3].kind".
struct DecodeFailure {
  std::string path;
  std::string problem;
};

[[noreturn]] void fail(const std::string& path, std::string problem) { throw DecodeFailure{path, std::move(problem)}; }

std::string member(const std::string& path, const char* key) {
  return path.empty() ? std::string(key) : path + "." + key;
}

void dec(const json& j, const std::string& path, double& out) {
  if (!j.is_number()) fail(path, "expected a number");
  out = j.get<double>();
  if (!std::isfinite(out)) fail(path, "the number is out of range");
}

void dec(const json& j, const std::string& path, std::int64_t& out) {
  if (j.is_number_integer()) {
    if (j.is_number_unsigned() &&
        j.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      fail(path, "the number is too large");
    }
    out = j.get<std::int64_t>();
    return;
  }
  fail(path, j.is_number() ? "expected a whole number" : "expected a number");
}

void dec(const json& j, const std::string& path, int& out) {
  std::int64_t wide = 0;
  dec(j, path, wide);
  if (wide < std::numeric_limits<std::int32_t>::min() || wide > std::numeric_limits<std::int32_t>::max()) {
    fail(path, "the number is too large");
  }
  out = static_cast<int>(wide);
}

void dec(const json& j, const std::string& path, bool& out) {
  if (!j.is_boolean()) fail(path, "expected true or false");
  out = j.get<bool>();
}

void dec(const json& j, const std::string& path, std::string& out) {
  if (!j.is_string()) fail(path, "expected text");
  out = j.get<std::string>();
}

template <class E>
requires std::is_enum_v<E>
void dec(const json& j, const std::string& path, E& out) {
  std::string text;
  dec(j, path, text);
  auto value = fromRawValue<E>(text);
  if (!value) fail(path, fmt::format("“{}” is not a known value", text));
  out = *value;
}

template <class T>
void dec(const json& j, const std::string& path, std::vector<T>& out);
void dec(const json& j, const std::string& path, std::map<std::string, std::string>& out);

void dec(const json& j, const std::string& path, RationalTime& out);
void dec(const json& j, const std::string& path, TimeRange& out);
void dec(const json& j, const std::string& path, SourceMedia& out);
void dec(const json& j, const std::string& path, TranscriptWord& out);
void dec(const json& j, const std::string& path, Transcript& out);
void dec(const json& j, const std::string& path, SilenceSpan& out);
void dec(const json& j, const std::string& path, Segment& out);
void dec(const json& j, const std::string& path, CutList& out);
void dec(const json& j, const std::string& path, TakeGroupInfo& out);
void dec(const json& j, const std::string& path, Advisory& out);
void dec(const json& j, const std::string& path, LevelData& out);
void dec(const json& j, const std::string& path, MovieIdentity& out);
void dec(const json& j, const std::string& path, PipelineSettings& out);
void dec(const json& j, const std::string& path, ComponentVocabulary& out);
void dec(const json& j, const std::string& path, BrandSpec& out);
void dec(const json& j, const std::string& path, GraphicsAsset& out);

const json& object(const json& j, const std::string& path) {
  if (!j.is_object()) fail(path, "expected an object");
  return j;
}

template <class T>
void req(const json& obj, const std::string& path, const char* key, T& out) {
  auto it = obj.find(key);
  if (it == obj.end()) fail(member(path, key), "missing");
  dec(*it, member(path, key), out);
}

template <class T>
void opt(const json& obj, const std::string& path, const char* key, std::optional<T>& out) {
  auto it = obj.find(key);
  if (it == obj.end() || it->is_null()) {
    out.reset();
    return;
  }
  T value{};
  dec(*it, member(path, key), value);
  out = std::move(value);
}

// What a recording can have; anything beyond comes from a damaged or hand-made file and would
// overflow the conversions to frames, samples and clock times.
constexpr double kLongestRecording = 100 * 3600.0;
constexpr double kHighestSampleRate = 1'000'000;
constexpr double kShortestFrame = 1.0 / 1000, kLongestFrame = 60;
constexpr std::int64_t kLargestPicture = 1 << 16;
// The cut leaves out pieces of a millisecond or less, so a shorter recording leaves no cut at all.
constexpr double kShortestRecording = 0.001;

void requireTime(double value, const std::string& path) {
  if (value < 0) fail(path, "a time can't be negative");
  if (value > kLongestRecording) fail(path, "a time can't be beyond 100 hours");
}

void dec(const json& j, const std::string& path, RationalTime& out) {
  const json& o = object(j, path);
  std::int64_t value = 0;
  int timescale = 0;
  req(o, path, "value", value);
  req(o, path, "timescale", timescale);
  if (timescale < 1) fail(member(path, "timescale"), "must be at least 1");
  out = {value, timescale};
}

void dec(const json& j, const std::string& path, TimeRange& out) {
  const json& o = object(j, path);
  req(o, path, "start", out.start);
  req(o, path, "end", out.end);
  requireTime(out.start, member(path, "start"));
  requireTime(out.end, member(path, "end"));
}

void dec(const json& j, const std::string& path, SourceMedia& out) {
  const json& o = object(j, path);
  req(o, path, "path", out.path);
  req(o, path, "durationSeconds", out.durationSeconds);
  requireTime(out.durationSeconds, member(path, "durationSeconds"));
  if (!(out.durationSeconds > kShortestRecording)) {
    fail(member(path, "durationSeconds"), "a recording must be longer than a millisecond");
  }
  opt(o, path, "pictureEndSeconds", out.pictureEndSeconds);
  if (out.pictureEndSeconds) requireTime(*out.pictureEndSeconds, member(path, "pictureEndSeconds"));
  req(o, path, "frameDuration", out.frameDuration);
  if (out.frameDuration.value < 1) fail(member(path, "frameDuration.value"), "must be at least 1");
  const double frameSeconds =
      static_cast<double>(out.frameDuration.value) / static_cast<double>(out.frameDuration.timescale);
  if (frameSeconds < kShortestFrame || frameSeconds > kLongestFrame) {
    fail(member(path, "frameDuration"), "not a frame rate a recording can have");
  }
  req(o, path, "width", out.width);
  req(o, path, "height", out.height);
  if (out.width < 0 || out.width > kLargestPicture)
    fail(member(path, "width"), "not a picture size a recording can have");
  if (out.height < 0 || out.height > kLargestPicture)
    fail(member(path, "height"), "not a picture size a recording can have");
  req(o, path, "hasVideo", out.hasVideo);
  req(o, path, "audioSampleRate", out.audioSampleRate);
  if (out.audioSampleRate < 0 || out.audioSampleRate > kHighestSampleRate) {
    fail(member(path, "audioSampleRate"), "not a sample rate a recording can have");
  }
  opt(o, path, "audioChannelCount", out.audioChannelCount);
  if (out.audioChannelCount && (*out.audioChannelCount < 0 || *out.audioChannelCount > 1024)) {
    fail(member(path, "audioChannelCount"), "not a channel count a recording can have");
  }
  opt(o, path, "startTimecode", out.startTimecode);
  if (out.startTimecode) {
    requireTime(static_cast<double>(out.startTimecode->value) / static_cast<double>(out.startTimecode->timescale),
                member(path, "startTimecode"));
    // The timeline adds frames to the start timecode, at the stored frame duration or at the
    // standard one a re-cut puts in its place: the sum needs a timescale that fits 32 bits.
    const auto combines = [&](RationalTime frame) {
      return std::lcm<std::int64_t>(out.startTimecode->timescale, frame.timescale) <=
             std::numeric_limits<std::int32_t>::max();
    };
    if (!combines(out.frameDuration) || !combines(RationalTime::standardFrameDuration(1.0 / frameSeconds))) {
      fail(member(path, "startTimecode.timescale"), "can't be combined with the frame rate's timescale");
    }
  }
  opt(o, path, "timecodeIsDropFrame", out.timecodeIsDropFrame);
  std::optional<std::string> bytes;
  opt(o, path, "pathBytes", bytes);
  if (bytes) out.path = Utf8Text::fromEscaped(*bytes);
  // No file's name holds one: the path would name another file, or none.
  if (out.path.find('\0') != std::string::npos) {
    fail(member(path, bytes ? "pathBytes" : "path"), "a file path can't hold a NUL character");
  }
}

void dec(const json& j, const std::string& path, TranscriptWord& out) {
  const json& o = object(j, path);
  req(o, path, "text", out.text);
  req(o, path, "range", out.range);
}

void dec(const json& j, const std::string& path, Transcript& out) { req(object(j, path), path, "words", out.words); }

void dec(const json& j, const std::string& path, SilenceSpan& out) {
  const json& o = object(j, path);
  req(o, path, "range", out.range);
  req(o, path, "meanLevelDBFS", out.meanLevelDBFS);
}

void dec(const json& j, const std::string& path, Segment& out) {
  const json& o = object(j, path);
  req(o, path, "range", out.range);
  req(o, path, "kind", out.kind);
  opt(o, path, "reason", out.reason);
  opt(o, path, "takeGroup", out.takeGroup);
}

void dec(const json& j, const std::string& path, CutList& out) { req(object(j, path), path, "segments", out.segments); }

void dec(const json& j, const std::string& path, TakeGroupInfo& out) {
  const json& o = object(j, path);
  req(o, path, "id", out.id);
  req(o, path, "winnerRange", out.winnerRange);
  opt(o, path, "alternateRanges", out.alternateRanges);
}

void dec(const json& j, const std::string& path, Advisory& out) {
  const json& o = object(j, path);
  req(o, path, "range", out.range);
  req(o, path, "note", out.note);
}

void dec(const json& j, const std::string& path, LevelData& out) {
  const json& o = object(j, path);
  req(o, path, "hopDuration", out.hopDuration);
  if (!(out.hopDuration > 0)) fail(member(path, "hopDuration"), "must be above 0");
  if (out.hopDuration > kLongestRecording) fail(member(path, "hopDuration"), "a time can't be beyond 100 hours");
  req(o, path, "base64", out.base64);
  // Stored only of footage whose loudness alone is too even to know it by.
  std::optional<std::string> speech;
  opt(o, path, "speechBase64", speech);
  out.speechBase64 = speech.value_or(std::string());
}

void dec(const json& j, const std::string& path, MovieIdentity& out) {
  const json& o = object(j, path);
  req(o, path, "size", out.size);
  if (out.size < 0) fail(member(path, "size"), "a file's size can't be negative");
  req(o, path, "modifiedSeconds", out.modifiedSeconds);
  req(o, path, "modifiedNanoseconds", out.modifiedNanoseconds);
  if (out.modifiedNanoseconds < 0 || out.modifiedNanoseconds > 999'999'999) {
    fail(member(path, "modifiedNanoseconds"), "must be from 0 to 999999999");
  }
  // Absent in an earlier build's record.
  opt(o, path, "sampledSHA256", out.sampledSHA256);
  if (out.sampledSHA256 && (out.sampledSHA256->size() != 64 ||
                            out.sampledSHA256->find_first_not_of("0123456789abcdef") != std::string::npos)) {
    fail(member(path, "sampledSHA256"), "expected 64 lowercase hexadecimal digits");
  }
}

void dec(const json& j, const std::string& path, PipelineSettings& out) {
  const json& o = object(j, path);
  req(o, path, "silenceThresholdDBFS", out.silenceThresholdDBFS);
  req(o, path, "minSilenceDuration", out.minSilenceDuration);
  req(o, path, "speechPadding", out.speechPadding);
  req(o, path, "removeFillers", out.removeFillers);
  opt(o, path, "dedupRepeatedLines", out.dedupRepeatedLines);
  opt(o, path, "embedCaptions", out.embedCaptions);
  opt(o, path, "subtitleLength", out.subtitleLength);
  opt(o, path, "exportTarget", out.exportTarget);
  opt(o, path, "manualKeepRanges", out.manualKeepRanges);
  opt(o, path, "manualRemoveRanges", out.manualRemoveRanges);
  opt(o, path, "aiAdjudication", out.aiAdjudication);
  opt(o, path, "thoroughness", out.thoroughness);
  opt(o, path, "graphicsLimit", out.graphicsLimit);
  // Refused as the command line refuses it: a limit below 1 is no limit a run can keep.
  if (out.graphicsLimit && (*out.graphicsLimit < 1 || *out.graphicsLimit > PipelineSettings::mostGraphics)) {
    fail(member(path, "graphicsLimit"), PipelineSettings::graphicsLimitRefusal(std::to_string(*out.graphicsLimit)));
  }
  opt(o, path, "graphicsDensity", out.graphicsDensity);
  opt(o, path, "graphicsFormat", out.graphicsFormat);
  opt(o, path, "graphicsConcurrency", out.graphicsConcurrency);
}

void dec(const json& j, const std::string& path, ComponentVocabulary& out) {
  const json& o = object(j, path);
  req(o, path, "fontFamilies", out.fontFamilies);
  req(o, path, "typeScale", out.typeScale);
  req(o, path, "colors", out.colors);
  req(o, path, "cornerRadii", out.cornerRadii);
  req(o, path, "letterSpacing", out.letterSpacing);
  req(o, path, "textTransform", out.textTransform);
  req(o, path, "eases", out.eases);
  req(o, path, "motionDurations", out.motionDurations);
  req(o, path, "staggers", out.staggers);
  req(o, path, "components", out.components);
  req(o, path, "styleExcerpts", out.styleExcerpts);
  req(o, path, "derivedFrom", out.derivedFrom);
}

void dec(const json& j, const std::string& path, BrandSpec& out) {
  const json& o = object(j, path);
  req(o, path, "name", out.name);
  opt(o, path, "websiteURL", out.websiteURL);
  opt(o, path, "colors", out.colors);
  opt(o, path, "fonts", out.fonts);
  opt(o, path, "styleWords", out.styleWords);
  opt(o, path, "notes", out.notes);
  opt(o, path, "safeZonesVertical", out.safeZonesVertical);
  opt(o, path, "safeZonesHorizontal", out.safeZonesHorizontal);
  opt(o, path, "componentVocabulary", out.componentVocabulary);
}

void dec(const json& j, const std::string& path, GraphicsAsset& out) {
  const json& o = object(j, path);
  req(o, path, "name", out.name);
  req(o, path, "fileName", out.fileName);
  opt(o, path, "relativePath", out.relativePath);
  req(o, path, "placementSeconds", out.placementSeconds);
  if (std::abs(out.placementSeconds) > kLongestRecording) {
    fail(member(path, "placementSeconds"), "a time can't be beyond 100 hours");
  }
  req(o, path, "kind", out.kind);
  req(o, path, "durationSeconds", out.durationSeconds);
  if (std::abs(out.durationSeconds) > kLongestRecording) {
    fail(member(path, "durationSeconds"), "a time can't be beyond 100 hours");
  }
  opt(o, path, "renderSeconds", out.renderSeconds);
  opt(o, path, "failure", out.failure);
  opt(o, path, "anchorText", out.anchorText);
  opt(o, path, "anchoredToTranscript", out.anchoredToTranscript);
  opt(o, path, "spokenSeconds", out.spokenSeconds);
  opt(o, path, "estimatedPlacementSeconds", out.estimatedPlacementSeconds);
}

template <class T>
void dec(const json& j, const std::string& path, std::vector<T>& out) {
  if (!j.is_array()) fail(path, "expected a list");
  out.clear();
  out.reserve(j.size());
  for (std::size_t i = 0; i < j.size(); ++i) {
    if ((i + 1) % kItemsBetweenChecks == 0) checkpoint();
    T item{};
    dec(j[i], fmt::format("{}[{}]", path, i), item);
    out.push_back(std::move(item));
  }
}

void dec(const json& j, const std::string& path, std::map<std::string, std::string>& out) {
  const json& o = object(j, path);
  out.clear();
  for (const auto& [key, value] : o.items()) dec(value, member(path, key.c_str()), out[key]);
}

// Orders the decoder can't see one value at a time: a hand edit runs forwards, and the words
// follow one another in time (touching is fine) as the recognizer hears them; anything else
// makes captions out of order or of no length.
void checkOrder(const KestraneSession& s) {
  const auto forwards = [](const std::optional<std::vector<TimeRange>>& ranges, const char* path) {
    for (std::size_t i = 0; ranges && i < ranges->size(); ++i) {
      if ((*ranges)[i].end < (*ranges)[i].start) fail(fmt::format("{}[{}]", path, i), "ends before it starts");
    }
  };
  forwards(s.settings.manualKeepRanges, "settings.manualKeepRanges");
  forwards(s.settings.manualRemoveRanges, "settings.manualRemoveRanges");
  if (!s.transcript) return;
  const std::vector<TranscriptWord>& words = s.transcript->words;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i].range.end < words[i].range.start) {
      fail(fmt::format("transcript.words[{}].range", i), "ends before it starts");
    }
    if (i > 0 && words[i].range.start < words[i - 1].range.end) {
      fail(fmt::format("transcript.words[{}].range", i), "starts before the word before it ends");
    }
  }
}

}  // namespace

namespace {

// The characters of a text, looking at the job's stop at every megabyte: a session of a long
// recording takes seconds to parse, and its levels alone are one value of tens of megabytes.
class StoppableChars {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  explicit StoppableChars(const char* at) : at_(at) {}
  reference operator*() const { return *at_; }
  StoppableChars& operator++() {
    if ((reinterpret_cast<std::uintptr_t>(++at_) & 0xFFFFF) == 0) checkpoint();
    return *this;
  }
  StoppableChars operator++(int) {
    const StoppableChars was = *this;
    ++*this;
    return was;
  }
  bool operator==(const StoppableChars& other) const { return at_ == other.at_; }

 private:
  const char* at_;
};

// Parses the text and runs `decodeRoot` over its top-level object; a failure names the
// offending member's path.
template <class DecodeRoot>
auto decodeText(const std::string& text, DecodeRoot decodeRoot) {
  json root;
  try {
    try {
      // Parsed into `root` as json::parse does, so that what a stop leaves can be freed aside.
      nlohmann::detail::json_sax_dom_parser<json> dom(root, true);
      if (!json::sax_parse(StoppableChars(text.data()), StoppableChars(text.data() + text.size()), &dom)) {
        throw SessionFileError("it is not valid JSON");
      }
    } catch (const json::exception&) {
      throw SessionFileError("it is not valid JSON");
    }
    try {
      auto decoded = decodeRoot(object(root, ""));
      if (text.size() > kLargeText) JsonText::freeAside(std::move(root));
      return decoded;
    } catch (const DecodeFailure& f) {
      throw SessionFileError(f.path.empty() ? f.problem : f.path + ": " + f.problem);
    }
  } catch (const Cancelled&) {
    JsonText::freeAside(std::move(root));
    throw;
  }
}

}  // namespace

KestraneSession decode(const std::string& text) {
  return decodeText(text, [](const json& o) {
    KestraneSession s;
    req(o, "", "version", s.version);
    // The only format there is; another number is a damaged file or one this program can't know.
    if (s.version != KestraneSession::currentVersion) {
      fail("version", fmt::format("this program reads session files of version {}, not {}",
                                  KestraneSession::currentVersion, s.version));
    }
    req(o, "", "source", s.source);
    req(o, "", "settings", s.settings);
    opt(o, "", "projectName", s.projectName);
    opt(o, "", "script", s.script);
    opt(o, "", "projectNotes", s.projectNotes);
    opt(o, "", "createMotionGraphics", s.createMotionGraphics);
    opt(o, "", "brandSpec", s.brandSpec);
    opt(o, "", "graphicsNotes", s.graphicsNotes);
    opt(o, "", "warnings", s.warnings);
    opt(o, "", "graphicsAssets", s.graphicsAssets);
    opt(o, "", "silences", s.silences);
    opt(o, "", "transcript", s.transcript);
    opt(o, "", "cutList", s.cutList);
    opt(o, "", "roughCutCutList", s.roughCutCutList);
    opt(o, "", "roughCutMovie", s.roughCutMovie);
    opt(o, "", "advisories", s.advisories);
    opt(o, "", "editorNotes", s.editorNotes);
    opt(o, "", "levels", s.levels);
    opt(o, "", "takeGroups", s.takeGroups);
    // Earlier builds counted the sound's samples and wrote no clock.
    std::optional<SoundTiming> timing;
    opt(o, "", "soundTiming", timing);
    s.soundTiming = timing.value_or(SoundTiming::countedSamples);
    checkOrder(s);
    return s;
  });
}

BrandSpec decodeBrand(const std::string& text) {
  return decodeText(text, [](const json& o) {
    BrandSpec brand;
    if (o.contains("brandSpec")) {
      dec(o.at("brandSpec"), "brandSpec", brand);
    } else if (o.contains("source") && o.contains("settings")) {
      throw SessionFileError("the session holds no brand");
    } else {
      dec(o, "", brand);
    }
    return brand;
  });
}

}  // namespace kestrane::SessionJson
