#include "kestrane/export/XMEMLWriter.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <string_view>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/export/FileURL.hpp"
#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/export/XmlText.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CheckedCast.hpp"

namespace kestrane::XMEMLWriter {

namespace {

std::string fileName(const std::string& path) {
  std::filesystem::path p(path);
  if (!p.has_filename()) p = p.parent_path();
  return p.filename().string();
}

class Document {
 public:
  void add(int spaces, std::string_view text) {
    out_.append(static_cast<std::size_t>(spaces), ' ');
    out_ += text;
    out_ += '\n';
  }
  std::string& text() { return out_; }

 private:
  std::string out_;
};

}  // namespace

std::string xmeml(const SourceMedia& source, const CutList& cutList, const std::string& projectName, bool nested) {
  const RationalTime fd = FrameSnapping::usableFrameDuration(source.frameDuration);
  const double frameSeconds = static_cast<double>(fd.value) / static_cast<double>(fd.timescale);
  const double fps = 1.0 / frameSeconds;
  const auto timebase = clampedInteger<std::int64_t>(std::round(fps));
  const char* ntsc = std::abs(fps - static_cast<double>(timebase)) > 0.001 ? "TRUE" : "FALSE";
  const std::string rate = fmt::format("<rate><timebase>{}</timebase><ntsc>{}</ntsc></rate>", timebase, ntsc);
  const std::int64_t sourceFrames = FrameSnapping::sourceFrameCount(source.durationSeconds, fd);
  const int audioTracks = source.audioChannelCount && *source.audioChannelCount < 2 ? 1 : 2;
  const std::string sourceFileName = XmlText::content(fileName(source.path));
  const std::string pathURL = XmlText::content("file://localhost" + FileURL::encodedPath(source.path));
  const auto sampleRate = clampedInteger<std::int64_t>(source.audioSampleRate);
  const std::string project = XmlText::content(projectName);
  const std::string clipName = nested ? project + " \u2014 Source" : sourceFileName;

  // The pieces never reach past the source's last frame, which the file element declares.
  const FrameSnapping::Layout layout = FrameSnapping::layout(source, cutList);
  const auto& pieces = layout.pieces;

  Document doc;
  bool fileWritten = false;
  bool nestWritten = false;

  // The file and the nested sequence are written whole where they first appear and by their id
  // alone after that. True when the whole element is to follow its opening tag.
  const auto openOnce = [&](bool& written, int indent, const std::string& tag) {
    if (written) {
      doc.add(indent, "<" + tag + "/>");
      return false;
    }
    written = true;
    doc.add(indent, "<" + tag + ">");
    return true;
  };

  const auto fileElement = [&](int j) {
    if (!openOnce(fileWritten, j, R"(file id="file-1")")) return;
    doc.add(j + 1, "<name>" + sourceFileName + "</name>");
    doc.add(j + 1, "<pathurl>" + pathURL + "</pathurl>");
    doc.add(j + 1, rate);
    doc.add(j + 1, fmt::format("<duration>{}</duration>", sourceFrames));
    doc.add(j + 1, "<media>");
    if (source.hasVideo) {
      doc.add(j + 2, "<video>");
      doc.add(j + 3, "<samplecharacteristics>");
      doc.add(j + 4, rate);
      doc.add(j + 4, fmt::format("<width>{}</width>", source.width));
      doc.add(j + 4, fmt::format("<height>{}</height>", source.height));
      doc.add(j + 3, "</samplecharacteristics>");
      doc.add(j + 2, "</video>");
    }
    doc.add(j + 2, "<audio>");
    doc.add(j + 3, "<samplecharacteristics>");
    doc.add(j + 4, "<depth>16</depth>");
    doc.add(j + 4, fmt::format("<samplerate>{}</samplerate>", sampleRate));
    doc.add(j + 3, "</samplecharacteristics>");
    doc.add(j + 3, fmt::format("<channelcount>{}</channelcount>", audioTracks));
    doc.add(j + 2, "</audio>");
    doc.add(j + 1, "</media>");
    doc.add(j, "</file>");
  };

  const auto sourceClipBody = [&](int spaces) {
    doc.add(spaces, "<name>" + sourceFileName + "</name>");
    doc.add(spaces, "<enabled>TRUE</enabled>");
    doc.add(spaces, fmt::format("<duration>{}</duration>", sourceFrames));
    doc.add(spaces, rate);
    doc.add(spaces, fmt::format("<start>0</start><end>{}</end>", sourceFrames));
    doc.add(spaces, fmt::format("<in>0</in><out>{}</out>", sourceFrames));
  };

  const auto nestElement = [&](int i) {
    if (!openOnce(nestWritten, i, R"(sequence id="nested-1")")) return;
    doc.add(i + 1, "<name>" + project + " \u2014 Source</name>");
    doc.add(i + 1, fmt::format("<duration>{}</duration>", sourceFrames));
    doc.add(i + 1, rate);
    doc.add(i + 1, "<media>");
    if (source.hasVideo) {
      doc.add(i + 1, "<video>");
      doc.add(i + 2, fmt::format("<format><samplecharacteristics>{}<width>{}</width><height>{}</height>"
                                 "</samplecharacteristics></format>",
                                 rate, source.width, source.height));
      doc.add(i + 2, "<track>");
      doc.add(i + 3, R"(<clipitem id="src-v">)");
      sourceClipBody(i + 4);
      fileElement(i + 4);
      doc.add(i + 3, "</clipitem>");
      doc.add(i + 2, "</track>");
      doc.add(i + 1, "</video>");
    }
    doc.add(i + 1, "<audio>");
    for (int ch = 1; ch <= audioTracks; ++ch) {
      doc.add(i + 2, "<track>");
      doc.add(i + 3, fmt::format(R"(<clipitem id="src-a{}">)", ch));
      sourceClipBody(i + 4);
      fileElement(i + 4);
      doc.add(i + 4, fmt::format("<sourcetrack><mediatype>audio</mediatype><trackindex>{}</trackindex>"
                                 "</sourcetrack>",
                                 ch));
      doc.add(i + 3, "</clipitem>");
      doc.add(i + 2, "</track>");
    }
    doc.add(i + 1, "</audio>");
    doc.add(i + 1, "</media>");
    doc.add(i, "</sequence>");
  };

  const auto links = [&](std::size_t index) {
    if (source.hasVideo) {
      doc.add(8, fmt::format("<link><linkclipref>clipitem-v{0}</linkclipref><mediatype>video</mediatype>"
                             "<trackindex>1</trackindex><clipindex>{0}</clipindex></link>",
                             index));
    }
    for (int ch = 1; ch <= audioTracks; ++ch) {
      doc.add(8, fmt::format("<link><linkclipref>clipitem-a{0}-{1}</linkclipref><mediatype>audio"
                             "</mediatype><trackindex>{0}</trackindex><clipindex>{1}</clipindex></link>",
                             ch, index));
    }
  };

  // One clip item; `channel` 0 is the video item.
  const auto clipItem = [&](std::size_t index, int channel) {
    // A cut of many pieces writes each one on every track; the job's stop is heard meanwhile.
    if (index % 1024 == 0) checkpoint();
    const FrameSnapping::Piece& piece = pieces[index - 1];
    doc.add(7, channel == 0 ? fmt::format(R"(<clipitem id="clipitem-v{}">)", index)
                            : fmt::format(R"(<clipitem id="clipitem-a{}-{}">)", channel, index));
    doc.add(8, "<name>" + clipName + "</name>");
    doc.add(8, "<enabled>TRUE</enabled>");
    doc.add(8, fmt::format("<duration>{}</duration>", sourceFrames));
    doc.add(8, rate);
    doc.add(8, fmt::format("<start>{}</start>", piece.cutStartFrame));
    doc.add(8, fmt::format("<end>{}</end>", piece.cutEndFrame()));
    doc.add(8, fmt::format("<in>{}</in>", piece.sourceStartFrame));
    doc.add(8, fmt::format("<out>{}</out>", piece.sourceEndFrame));
    if (nested) {
      nestElement(8);
    } else {
      fileElement(8);
    }
    if (channel > 0) {
      doc.add(8, fmt::format("<sourcetrack><mediatype>audio</mediatype><trackindex>{}</trackindex>"
                             "</sourcetrack>",
                             channel));
    }
    links(index);
    doc.add(7, "</clipitem>");
  };

  doc.add(0, R"(<?xml version="1.0" encoding="UTF-8"?>)");
  doc.add(0, "<!DOCTYPE xmeml>");
  doc.add(0, R"(<xmeml version="5">)");
  doc.add(1, R"(<sequence id="sequence-1">)");
  doc.add(2, "<name>" + project + "</name>");
  doc.add(2, fmt::format("<duration>{}</duration>", layout.totalFrames));
  doc.add(2, rate);
  doc.add(2, "<media>");
  if (source.hasVideo) {
    doc.add(6, "<video>");
    doc.add(7, "<format>");
    doc.add(8, "<samplecharacteristics>");
    doc.add(9, rate);
    doc.add(9, fmt::format("<width>{}</width>", source.width));
    doc.add(9, fmt::format("<height>{}</height>", source.height));
    doc.add(9, "<pixelaspectratio>square</pixelaspectratio>");
    doc.add(9, "<fielddominance>none</fielddominance>");
    doc.add(8, "</samplecharacteristics>");
    doc.add(7, "</format>");
    doc.add(7, "<track>");
    for (std::size_t i = 1; i <= pieces.size(); ++i) clipItem(i, 0);
    doc.add(7, "</track>");
    doc.add(6, "</video>");
  }
  doc.add(6, "<audio>");
  doc.add(7, fmt::format("<numOutputChannels>{}</numOutputChannels>", audioTracks));
  for (int ch = 1; ch <= audioTracks; ++ch) {
    doc.add(7, "<track>");
    for (std::size_t i = 1; i <= pieces.size(); ++i) clipItem(i, ch);
    doc.add(7, "</track>");
  }
  doc.add(6, "</audio>");
  doc.add(2, "</media>");
  const bool dropFrame = source.timecodeIsDropFrame.value_or(false);
  doc.add(2, "<timecode>");
  doc.add(3, rate);
  doc.add(3, dropFrame ? "<string>00:00:00;00</string>" : "<string>00:00:00:00</string>");
  doc.add(3, "<frame>0</frame>");
  doc.add(3, dropFrame ? "<displayformat>DF</displayformat>" : "<displayformat>NDF</displayformat>");
  doc.add(2, "</timecode>");
  doc.add(1, "</sequence>");
  std::string out = std::move(doc.text());
  out += "</xmeml>";
  return out;
}

void write(const SourceMedia& source, const CutList& cutList, const std::string& projectName, bool nested,
           const std::filesystem::path& path) {
  AtomicFile::write(path, xmeml(source, cutList, projectName, nested));
}

}  // namespace kestrane::XMEMLWriter
