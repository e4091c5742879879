#include "kestrane/export/FCPXMLWriter.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/export/FileURL.hpp"
#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/export/XmlText.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CheckedCast.hpp"

namespace kestrane::FCPXMLWriter {

namespace {

using Rounding = RationalTime::FrameRounding;

constexpr std::size_t noteCharacters = 180;
constexpr std::size_t titleNameCharacters = 40;

class Lines {
 public:
  void add(int level, std::string_view text) {
    out_.append(static_cast<std::size_t>(level) * 2, ' ');
    out_ += text;
    out_ += '\n';
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

std::string attr(std::string_view text) { return XmlText::attribute(text); }

std::string sourceName(const std::string& path) {
  std::filesystem::path p(path);
  if (!p.has_filename()) p = p.parent_path();
  return p.stem().string();
}

double finiteOrZero(double seconds) { return std::isfinite(seconds) ? seconds : 0.0; }

std::string formatNameAndDims(const SourceMedia& source) {
  if (!source.hasVideo || source.width < 1 || source.height < 1) return {};
  return fmt::format(R"x( name="Kestrane {}x{}" width="{}" height="{}" colorSpace="1-1-1 (Rec. 709)")x", source.width,
                     source.height, source.width, source.height);
}

std::string audioAttrs(const SourceMedia& source) {
  if (!source.audioChannelCount || *source.audioChannelCount < 1 || !(source.audioSampleRate > 0) ||
      !std::isfinite(source.audioSampleRate)) {
    return {};
  }
  return fmt::format(R"( audioSources="1" audioChannels="{}" audioRate="{}")", *source.audioChannelCount,
                     clampedInteger<std::int64_t>(source.audioSampleRate));
}

struct Connected {
  int lane = 1;
  RationalTime offsetInParent;
  RationalTime start;
  RationalTime duration;
  std::string assetID;
  std::string formatID;
  std::string name;
  bool needsConform = false;
};

struct Title {
  std::int64_t startFrame = 0;  // from the piece's first frame
  std::int64_t endFrame = 0;
  int style = 0;
  std::string text;
};

std::string fileStem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

RationalTime zeroAt(RationalTime like) { return RationalTime{0, like.timescale >= 1 ? like.timescale : 1}; }

}  // namespace

Component component(const SourceMedia& source, const CutList& cutList, const std::vector<GraphicsPlacement>& graphics,
                    const std::vector<TranscriptExporter::Cue>& captions, const Options& options,
                    const std::string& idPrefix) {
  const RationalTime fd = FrameSnapping::usableFrameDuration(source.frameDuration);
  const auto frames = [&](std::int64_t count) { return FrameSnapping::frames(count, fd); };
  const auto frameAt = [&](double seconds, Rounding rounding) {
    return FrameSnapping::frameIndex(seconds, fd, rounding);
  };
  const std::string id1 = idPrefix + "r1";
  const std::string id2 = idPrefix + "r2";
  const std::string id3 = idPrefix + "r3";
  const std::string effectID = idPrefix + "subFX";

  const std::string name = attr(sourceName(source.path));
  const double duration = std::max(0.0, finiteOrZero(source.durationSeconds));
  // Snapped up, so the compound clip never ends before the footage.
  const std::int64_t sourceFrames = frameAt(duration, Rounding::up);
  const RationalTime sourceLength = frames(sourceFrames);
  const RationalTime tc = source.startTimecode ? *source.startTimecode : zeroAt(fd);
  const char* tcFormat = source.timecodeIsDropFrame.value_or(false) ? "DF" : "NDF";

  // The same grid as the xmeml and the rough cut, but a piece may reach the last partial frame
  // of the footage, which the compound clip above holds.
  const FrameSnapping::Layout layout =
      FrameSnapping::layout(cutList, fd, sourceFrames > 0 ? std::optional(sourceFrames) : std::nullopt);
  const auto& pieces = layout.pieces;
  const RationalTime total = frames(layout.totalFrames);

  Lines res;
  // The source and its compound clip.
  res.add(2,
          fmt::format(R"(<format id="{}"{} frameDuration="{}"/>)", id1, formatNameAndDims(source), fd.fcpxmlString()));
  res.add(2,
          fmt::format(R"(<asset id="{}" name="{}" start="{}" duration="{}" hasVideo="{}" hasAudio="1" format="{}"{}>)",
                      id2, name, tc.fcpxmlString(), sourceLength.fcpxmlString(), source.hasVideo ? 1 : 0, id1,
                      audioAttrs(source)));
  res.add(3, fmt::format(R"(<media-rep kind="original-media" src="{}"/>)", attr(FileURL::fromPath(source.path))));
  res.add(2, "</asset>");
  res.add(2, fmt::format(R"(<media id="{}" name="{} — Source">)", id3, name));
  res.add(3, fmt::format(R"(<sequence format="{}" duration="{}" tcStart="{}" tcFormat="{}">)", id1,
                         sourceLength.fcpxmlString(), tc.fcpxmlString(), tcFormat));
  res.add(4, "<spine>");

  std::vector<Advisory> notes = options.editorNotes;
  std::stable_sort(notes.begin(), notes.end(),
                   [](const Advisory& a, const Advisory& b) { return a.range.start < b.range.start; });
  std::vector<std::string> markers;
  for (const Advisory& note : notes) {
    const double at = note.range.start;
    if (!std::isfinite(at) || at >= source.durationSeconds) continue;
    const RationalTime start = tc + frames(frameAt(std::max(at, 0.0), Rounding::down));
    markers.push_back(fmt::format(R"(<marker start="{}" duration="{}" value="{}"/>)", start.fcpxmlString(),
                                  fd.fcpxmlString(),
                                  attr("Note to editor: " + XmlText::prefixCharacters(note.note, noteCharacters))));
  }
  const std::string clipAttrs =
      fmt::format(R"(ref="{}" offset="{}" name="{}" start="{}" duration="{}" format="{}" tcFormat="{}")", id2,
                  tc.fcpxmlString(), name, tc.fcpxmlString(), sourceLength.fcpxmlString(), id1, tcFormat);
  if (markers.empty()) {
    res.add(5, "<asset-clip " + clipAttrs + "/>");
  } else {
    res.add(5, "<asset-clip " + clipAttrs + ">");
    for (const auto& marker : markers) res.add(6, marker);
    res.add(5, "</asset-clip>");
  }
  res.add(4, "</spine>");
  res.add(3, "</sequence>");
  res.add(2, "</media>");

  // Graphics resources: files of one size and rate share a format, one file one asset.
  int counter = 4;
  std::map<std::string, std::string> formatByKey;
  std::map<std::string, std::string> formatByPath;
  std::map<std::string, std::string> assetByPath;
  for (const GraphicsPlacement& g : graphics) {
    const auto& m = g.media;
    const std::string key = fmt::format("{}x{}@{}", m.width, m.height, m.frameDuration.fcpxmlString());
    auto found = formatByKey.find(key);
    if (found == formatByKey.end()) {
      const std::string id = fmt::format("{}r{}", idPrefix, counter++);
      found = formatByKey.emplace(key, id).first;
      res.add(
          2,
          fmt::format(
              R"x(<format id="{}" name="Kestrane graphic {}x{}" width="{}" height="{}" frameDuration="{}" colorSpace="1-1-1 (Rec. 709)"/>)x",
              id, m.width, m.height, m.width, m.height, m.frameDuration.fcpxmlString()));
    }
    formatByPath[m.path] = found->second;
    if (assetByPath.count(m.path) == 0) {
      const std::string id = fmt::format("{}r{}", idPrefix, counter++);
      assetByPath[m.path] = id;
      const RationalTime start = m.startTimecode ? *m.startTimecode : zeroAt(m.frameDuration);
      RationalTime length = zeroAt(m.frameDuration);
      if (m.frameDuration.value > 0 && m.frameDuration.timescale >= 1) {
        length = FrameSnapping::frames(m.frameCount(), m.frameDuration);
      }
      res.add(
          2,
          fmt::format(
              R"(<asset id="{}" name="{}" start="{}" duration="{}" hasVideo="1" videoSources="1" hasAudio="0" format="{}">)",
              id, attr(fileStem(m.path)), start.fcpxmlString(), length.fcpxmlString(), found->second));
      res.add(3, fmt::format(R"(<media-rep kind="original-media" src="{}"/>)", attr(FileURL::fromPath(m.path))));
      res.add(2, "</asset>");
    }
  }
  if (!captions.empty()) {
    res.add(2, fmt::format(R"(<effect id="{}" name="Subtitle" uid="{}"/>)", effectID, subtitleEffectUID));
  }

  // Graphics on the pieces, placed where their plain cut time plays on the snapped cut.
  std::map<std::size_t, std::vector<Connected>> connected;
  if (!pieces.empty()) {
    std::vector<const GraphicsPlacement*> sorted;
    for (const auto& g : graphics) sorted.push_back(&g);
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
      if (a->startSeconds != b->startSeconds) return a->startSeconds < b->startSeconds;
      return a->lane < b->lane;
    });
    const std::int64_t lastFrame = std::max<std::int64_t>(layout.totalFrames - 1, 0);
    for (const GraphicsPlacement* g : sorted) {
      const double from = std::max(finiteOrZero(g->startSeconds), 0.0);
      const double to = std::max(finiteOrZero(g->startSeconds + g->durationSeconds), 0.0);
      const std::int64_t s = std::min(frameAt(layout.cutSeconds(from), Rounding::down), lastFrame);
      const std::int64_t e = frameAt(layout.cutSeconds(to), Rounding::up);
      const std::int64_t wanted = e - s >= 1 ? e - s : 1;
      const std::int64_t fileLength = std::max<std::int64_t>(g->media.frameCount(), 1);
      std::int64_t length = std::min(fileLength, wanted);
      if (layout.totalFrames - s > 0) length = std::min(length, layout.totalFrames - s);

      // The last piece that starts at or before the graphic; it may run on over later pieces.
      std::size_t index = 0;
      for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i].cutStartFrame <= s) index = i;
      }
      const auto& piece = pieces[index];
      Connected c;
      c.lane = std::max(g->lane, 1);
      c.offsetInParent = tc + frames(piece.sourceStartFrame + (s - piece.cutStartFrame));
      c.start = g->media.startTimecode ? *g->media.startTimecode : zeroAt(g->media.frameDuration);
      c.duration = frames(length);
      c.assetID = assetByPath[g->media.path];
      c.formatID = formatByPath[g->media.path];
      c.name = g->name.empty() ? g->fileName : g->name;
      c.needsConform = std::abs(g->media.frameDuration.seconds() - fd.seconds()) >= 1e-9;
      connected[index].push_back(std::move(c));
    }
  }

  // Captions go to the piece that plays their midpoint, timed on the snapped cut.
  std::vector<std::vector<std::size_t>> cuesOfPiece(pieces.size());
  std::vector<std::pair<double, double>> snappedCues;
  // Each caption looks through the pieces: a long cut of many pieces takes a while, and the
  // job's stop is looked at as it goes.
  std::size_t steps = 0;
  for (std::size_t i = 0; i < captions.size(); ++i) {
    if (++steps % 65536 == 0) checkpoint();
    if (!std::isfinite(captions[i].start) || !std::isfinite(captions[i].end)) {
      snappedCues.emplace_back(0.0, 0.0);
      continue;
    }
    const double start = layout.cutSeconds(captions[i].start);
    const double end = std::max(start, layout.cutSeconds(captions[i].end));
    snappedCues.emplace_back(start, end);
    const double mid = (start + end) * 0.5;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
      if (++steps % 65536 == 0) checkpoint();
      const double p0 = FrameSnapping::seconds(pieces[p].cutStartFrame, fd);
      const double p1 = FrameSnapping::seconds(pieces[p].cutEndFrame(), fd);
      if (p0 <= mid && mid < p1) {
        cuesOfPiece[p].push_back(i);
        break;
      }
    }
  }

  Lines proj;
  proj.add(3, fmt::format(R"(<project name="{}">)", attr(options.projectName)));
  proj.add(
      4, fmt::format(R"(<sequence format="{}" duration="{}" tcStart="0s" tcFormat="NDF">)", id1, total.fcpxmlString()));
  if (pieces.empty()) {
    proj.add(5, "<spine/>");
  } else {
    proj.add(5, "<spine>");
  }
  int style = 0;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    if ((p + 1) % 1024 == 0) checkpoint();
    const auto& piece = pieces[p];
    const double p0 = FrameSnapping::seconds(piece.cutStartFrame, fd);
    const double p1 = FrameSnapping::seconds(piece.cutEndFrame(), fd);

    std::vector<Title> titles;
    for (const std::size_t i : cuesOfPiece[p]) {
      ++style;
      const auto [start, end] = snappedCues[i];
      const std::int64_t first = frameAt(std::max(start - p0, 0.0), Rounding::down);
      const std::int64_t length = frameAt(std::min(end, p1) - std::max(start, p0), Rounding::up);
      if (length < 1) continue;
      titles.push_back(Title{first, std::min(first + length, piece.frameCount()), style, captions[i].text()});
    }
    // Consecutive titles never overlap: each ends, at the latest, where the next one begins.
    std::int64_t nextStart = std::numeric_limits<std::int64_t>::max();
    for (auto it = titles.rbegin(); it != titles.rend(); ++it) {
      it->endFrame = std::min(it->endFrame, nextStart);
      if (it->endFrame > it->startFrame) {
        nextStart = it->startFrame;
      } else {
        it->endFrame = it->startFrame;  // nothing left to show
      }
    }
    std::erase_if(titles, [](const Title& t) { return t.endFrame <= t.startFrame; });

    auto graphicsHere = connected.count(p) ? connected[p] : std::vector<Connected>{};
    std::stable_sort(graphicsHere.begin(), graphicsHere.end(), [](const Connected& a, const Connected& b) {
      if (a.offsetInParent.seconds() != b.offsetInParent.seconds()) {
        return a.offsetInParent.seconds() < b.offsetInParent.seconds();
      }
      return a.lane < b.lane;
    });
    int titleLane = 1;
    for (const auto& c : graphicsHere) titleLane = std::max(titleLane, c.lane + 1);

    const std::string refAttrs = fmt::format(
        R"(ref="{}" offset="{}" name="{}" start="{}" duration="{}")", id3, frames(piece.cutStartFrame).fcpxmlString(),
        name, (tc + frames(piece.sourceStartFrame)).fcpxmlString(), frames(piece.frameCount()).fcpxmlString());
    if (cuesOfPiece[p].empty() && graphicsHere.empty()) {
      proj.add(6, "<ref-clip " + refAttrs + "/>");
      continue;
    }
    proj.add(6, "<ref-clip " + refAttrs + ">");
    for (const Title& t : titles) {
      const std::string styleID = fmt::format("{}cts{}", idPrefix, t.style);
      proj.add(7, fmt::format(R"(<title ref="{}" lane="{}" offset="{}" duration="{}" name="{}" role="{}">)", effectID,
                              titleLane, (tc + frames(piece.sourceStartFrame + t.startFrame)).fcpxmlString(),
                              frames(t.endFrame - t.startFrame).fcpxmlString(),
                              attr(XmlText::prefixCharacters(t.text, titleNameCharacters)), subtitleRole));
      proj.add(8,
               fmt::format(R"(<text><text-style ref="{}">{}</text-style></text>)", styleID, XmlText::content(t.text)));
      proj.add(
          8,
          fmt::format(
              R"(<text-style-def id="{}"><text-style font="Helvetica" fontSize="60" fontColor="1 1 1 1" alignment="center"/></text-style-def>)",
              styleID));
      proj.add(7, "</title>");
    }
    for (const Connected& c : graphicsHere) {
      const std::string clip = fmt::format(
          R"(<asset-clip ref="{}" lane="{}" offset="{}" name="{}" start="{}" duration="{}" format="{}" videoRole="{}")",
          c.assetID, c.lane, c.offsetInParent.fcpxmlString(), attr(c.name), c.start.fcpxmlString(),
          c.duration.fcpxmlString(), c.formatID, attr(graphicsRole));
      if (c.needsConform) {
        proj.add(7, clip + ">");
        proj.add(8, R"(<conform-rate scaleEnabled="0"/>)");
        proj.add(7, "</asset-clip>");
      } else {
        proj.add(7, clip + "/>");
      }
    }
    proj.add(6, "</ref-clip>");
  }
  if (!pieces.empty()) proj.add(5, "</spine>");
  proj.add(4, "</sequence>");
  proj.add(3, "</project>");

  return Component{res.take(), proj.take()};
}

namespace {

struct Event {
  std::string name;
  std::string projects;
};

std::string document(const std::string& resources, const std::vector<Event>& events) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n";
  out += "<fcpxml version=\"1.13\">\n";
  out += "  <resources>\n";
  out += resources;
  out += "  </resources>\n";
  out += "  <library>\n";
  for (const Event& event : events) {
    out += fmt::format("    <event name=\"{}\">\n", attr(event.name));
    out += event.projects;
    out += "    </event>\n";
  }
  out += "  </library>\n";
  out += "</fcpxml>\n";
  return out;
}

}  // namespace

std::string fcpxml(const SourceMedia& source, const CutList& cutList, const std::vector<GraphicsPlacement>& graphics,
                   const std::vector<TranscriptExporter::Cue>& captions, const Options& options) {
  const Component one = component(source, cutList, graphics, captions, options, "");
  return document(one.resources, {Event{options.eventName, one.project}});
}

void write(const SourceMedia& source, const CutList& cutList, const std::vector<GraphicsPlacement>& graphics,
           const std::vector<TranscriptExporter::Cue>& captions, const Options& options,
           const std::filesystem::path& path) {
  AtomicFile::write(path, fcpxml(source, cutList, graphics, captions, options));
}

std::string batchFcpxml(const std::vector<BatchProject>& items, const std::string& eventName) {
  std::string resources;
  std::string projects;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const BatchProject& item = items[i];
    const Component part = component(item.source, item.cutList, {}, item.captions,
                                     Options{eventName, item.projectName, item.editorNotes}, fmt::format("v{}_", i));
    resources += part.resources;
    projects += part.project;
  }
  return document(resources, {Event{eventName, projects}});
}

}  // namespace kestrane::FCPXMLWriter
