#include "app/core/Background.hpp"

#include <algorithm>

namespace kestrane::app {

Background::~Background() {
  for (Entry& e : entries_) e.thread.request_stop();
  entries_.clear();  // joins
}

std::stop_source Background::start(std::function<void(std::stop_token)> work) {
  std::erase_if(entries_, [](const Entry& e) { return e.finished->load(); });
  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::jthread thread([work = std::move(work), finished](std::stop_token stop) {
    work(stop);
    finished->store(true);
  });
  std::stop_source source = thread.get_stop_source();
  entries_.push_back({std::move(finished), std::move(thread)});
  return source;
}

}  // namespace kestrane::app
