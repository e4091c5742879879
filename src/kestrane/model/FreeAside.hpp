#pragma once
// Frees a large value on a thread of its own. Tens of millions of small allocations take most
// of a second to free, which neither a job that is done with them nor one asked to stop need
// wait for.
#include <system_error>
#include <thread>
#include <utility>

namespace kestrane {

template <class T>
void freeAside(T&& value) {
  try {
    std::thread([doomed = std::forward<T>(value)]() mutable {
      [[maybe_unused]] const auto gone = std::move(doomed);
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the value is freed here instead.
  }
}

}  // namespace kestrane
