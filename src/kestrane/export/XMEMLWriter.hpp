#pragma once
// The xmeml (version 5) timeline Premiere imports: one sequence whose clip items are the kept
// pieces back to back, video and audio linked; with `nested`, the pieces are cut from a nested
// sequence that holds the whole raw footage.
#include <filesystem>
#include <string>

#include "kestrane/model/CutList.hpp"
#include "kestrane/model/SourceMedia.hpp"

namespace kestrane::XMEMLWriter {

std::string xmeml(const SourceMedia& source, const CutList& cutList, const std::string& projectName, bool nested);

// xmeml saved atomically as UTF-8 at `path`. Throws AtomicFile::WriteError.
void write(const SourceMedia& source, const CutList& cutList, const std::string& projectName, bool nested,
           const std::filesystem::path& path);

}  // namespace kestrane::XMEMLWriter
