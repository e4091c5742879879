#include "app/views/BatchStrip.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

#include "app/core/JobModel.hpp"
#include "app/views/Brand.hpp"

namespace kestrane::app {

namespace {

constexpr int dotSize = 6;
constexpr int dotSpacing = 5;

// One dot per video: violet for the one in the editor, dim until a video is analysed.
class Dots : public QWidget {
 public:
  Dots(const JobModel& job, QWidget* parent) : QWidget(parent), job_(job) {
    setObjectName(QStringLiteral("batchDots"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  QSize sizeHint() const override {
    const int n = static_cast<int>(job_.batch().size());
    return {std::max(0, n * dotSize + (n - 1) * dotSpacing), dotSize};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const auto& batch = job_.batch();
    for (std::size_t i = 0; i < batch.size(); ++i) {
      QColor fill = Brand::secondaryText;
      if (static_cast<int>(i) == job_.batchIndex()) {
        fill = Brand::accent;
      } else if (!batch[i].analysis) {
        fill.setAlphaF(0.3);
      }
      p.setBrush(fill);
      p.drawEllipse(
          QRectF(static_cast<double>(i) * (dotSize + dotSpacing), (height() - dotSize) / 2.0, dotSize, dotSize));
    }
  }

 private:
  const JobModel& job_;
};

QPushButton* arrow(const QString& text, const char* name, QWidget* parent) {
  QPushButton* b = Brand::button(text, Brand::ButtonLook::bordered, false, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setFixedWidth(32);
  return b;
}

}  // namespace

BatchStrip::BatchStrip(JobModel& job, QWidget* parent) : QWidget(parent), job_(job) {
  setObjectName(QStringLiteral("batchStrip"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(20, 14, 20, 0);
  row->setSpacing(12);
  previous_ = arrow(QStringLiteral("\u2039"), "batchPrevious", this);
  connect(previous_, &QPushButton::clicked, this, [this] { job_.selectBatchItem(job_.batchIndex() - 1); });
  row->addWidget(previous_);
  auto* centre = new QVBoxLayout;
  centre->setSpacing(2);
  position_ = Brand::label(QString(), Brand::TextStyle::caption, Brand::primaryText, QFont::DemiBold);
  position_->setObjectName(QStringLiteral("batchPosition"));
  centre->addWidget(position_, 0, Qt::AlignHCenter);
  dots_ = new Dots(job_, this);
  centre->addWidget(dots_, 0, Qt::AlignHCenter);
  row->addLayout(centre);
  next_ = arrow(QStringLiteral("\u203a"), "batchNext", this);
  connect(next_, &QPushButton::clicked, this, [this] { job_.selectBatchItem(job_.batchIndex() + 1); });
  row->addWidget(next_);
  row->addStretch(1);
  auto* note = Brand::label(QStringLiteral("Settings and hand edits are saved per video."), Brand::TextStyle::caption,
                            Brand::tertiaryText);
  note->setWordWrap(false);
  row->addWidget(note);
  refresh();
}

void BatchStrip::refresh() {
  const int count = static_cast<int>(job_.batch().size());
  setVisible(count >= 2);
  previous_->setEnabled(job_.batchIndex() > 0);
  next_->setEnabled(job_.batchIndex() < count - 1);
  position_->setText(QStringLiteral("Video %1 of %2").arg(job_.batchIndex() + 1).arg(count));
  dots_->updateGeometry();
  dots_->update();
}

}  // namespace kestrane::app
