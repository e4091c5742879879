#include "GraphicsOptions.hpp"

#include <charconv>
#include <fstream>
#include <sstream>

#include "kestrane/graphics/GraphicsChoices.hpp"
#include "kestrane/model/SessionJson.hpp"

namespace kestrane::cli {

namespace {

constexpr std::uintmax_t kMaxBrandFileBytes = 64ull * 1024 * 1024;

}  // namespace

int parseGraphicsLimit(const std::string& value) {
  int n = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (ec != std::errc() || end != value.data() + value.size() || n < 1 || n > PipelineSettings::mostGraphics) {
    throw UsageError("--graphics-limit " + PipelineSettings::graphicsLimitRefusal(value) + ".");
  }
  return n;
}

int parseGraphicsConcurrency(const std::string& value) {
  int n = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (ec != std::errc() || end != value.data() + value.size() || n < 1 || n > 8) {
    throw UsageError(fmt::format("--graphics-concurrency takes a whole number from 1 to 8 — “{}” is not one.", value));
  }
  return n;
}

GraphicsDensity parseDensity(const std::string& value) {
  if (const auto d = GraphicsChoices::parseDensity(value)) return *d;
  return parseEnum<GraphicsDensity>("--graphics-density", value);  // throws, naming the choices
}

GraphicsFormat parseFormat(const std::string& value) {
  if (const auto f = GraphicsChoices::parseFormat(value)) return *f;
  return parseEnum<GraphicsFormat>("--graphics-format", value);
}

BrandSpec readBrandFile(const std::filesystem::path& file) {
  const std::string shown = file.string();
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) throw UsageError(fmt::format("Can't read the brand file {} — {}.", shown, ec.message()));
  if (size > kMaxBrandFileBytes) {
    throw UsageError(fmt::format("The brand file {} is larger than 64 MB.", shown));
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) throw UsageError(fmt::format("Can't read the brand file {}.", shown));
  try {
    return SessionJson::decodeBrand(text.str());
  } catch (const std::exception& e) {
    throw UsageError(fmt::format("Can't use the brand file {} — {}.", shown, e.what()));
  }
}

}  // namespace kestrane::cli
