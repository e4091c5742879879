#include "app/core/FootageLook.hpp"

#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::app::FootageLooks {

FootageLook opened(const std::string& path) {
  FootageLook look;
  try {
    look.file = platform::MediaFile::open(path);
  } catch (const platform::MediaFileError& e) {
    if (e.missing()) look.missing = true;
    else look.unreadable = e.reason();
  }
  return look;
}

FootageLook at(const KestraneSession& footage, std::stop_token stop) {
  FootageLook look = opened(footage.source.path);
  if (!look.file) return look;
  Pipeline::FootageVerdict verdict = Pipeline::judgeFootage(footage, look.file, std::move(stop));
  look.change = std::move(verdict.change);
  look.remedy = verdict.remedy;
  look.movedBy = std::move(verdict.countedClock);
  if (look.change) look.file.reset();
  return look;
}

bool sameFile(const std::shared_ptr<const platform::MediaFile>& a,
              const std::shared_ptr<const platform::MediaFile>& b) {
  if (!a || !b) return !a && !b;
  return a == b || a->stamp() == b->stamp();
}

}  // namespace kestrane::app::FootageLooks
