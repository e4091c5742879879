#pragma once
// The message a failure shows the user: an error written for the user as it is, any other as
// the program's own fault.
#include <QString>

#include <exception>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::app {

inline QString errorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const UserFacingError& e) {
    return QString::fromStdString(e.what());
  } catch (const std::exception& e) {
    return QStringLiteral("Internal error: ") + QString::fromStdString(e.what());
  } catch (...) {
    return QStringLiteral("Internal error");
  }
}

}  // namespace kestrane::app
