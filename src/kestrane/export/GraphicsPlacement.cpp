#include "kestrane/export/GraphicsPlacement.hpp"

#include "kestrane/export/FileURL.hpp"
#include "kestrane/model/Timecode.hpp"

namespace kestrane {

std::string GraphicsPlacement::url() const { return FileURL::fromPath(media.path); }

std::string GraphicsPlacement::timecode() const { return VisualIdeas::preciseTimecode(startSeconds); }

}  // namespace kestrane
