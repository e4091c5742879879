#pragma once
// After a single cut: what it did in figures, the full report, how to bring the timeline into the
// chosen editor, the package's files, and the ways on.
#include <QToolButton>

#include "app/views/ScreenView.hpp"

namespace kestrane::app {

// The collapsible full report: what came out, what deserves a listen, what happened.
class ReviewReport : public QWidget {
 public:
  ReviewReport(const QString& removedLine, const std::vector<std::string>& warnings,
               const std::vector<Advisory>& advisories, QWidget* parent = nullptr);
  void setExpanded(bool expanded);

 private:
  QToolButton* toggle_;
  QWidget* content_;
};

class ResultsView : public ScreenView {
 public:
  ResultsView(AppServices services, std::shared_ptr<const Pipeline::Output> output, QWidget* parent = nullptr);

 private:
  std::shared_ptr<const Pipeline::Output> output_;
};

}  // namespace kestrane::app
