#include "kestrane/platform/PdfText.hpp"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <memory>
#include <mutex>

namespace kestrane::platform {

namespace {
void quietLogs() {
  static std::once_flag once;
  // Damaged files make the library print warnings; the caller reports the failure itself.
  std::call_once(once, [] { poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr); });
}
}  // namespace

std::optional<std::vector<std::optional<std::string>>> pdfPageTexts(const std::string& path) {
  quietLogs();
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
  if (!doc || doc->is_locked()) return std::nullopt;
  std::vector<std::optional<std::string>> pages;
  const int count = doc->pages();
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<poppler::page> page(doc->create_page(i));
    if (!page) {
      pages.emplace_back();
      continue;
    }
    const poppler::byte_array bytes = page->text().to_utf8();
    std::string text(bytes.begin(), bytes.end());
    // The library ends each page's text with a line break and a form feed; they mark the
    // page end, not the page's own text.
    if (!text.empty() && text.back() == '\f') text.pop_back();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    pages.emplace_back(std::move(text));
  }
  return pages;
}

}  // namespace kestrane::platform
