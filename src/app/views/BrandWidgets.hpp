#pragma once
// The brand's own drawn pieces: the two-colour wordmark, the glyph with its glow, the spinner.
#include <QLabel>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

namespace kestrane::app {

// "Kest" in near-white and "rane" in violet, bold.
class Wordmark : public QLabel {
 public:
  explicit Wordmark(int pixelSize, QWidget* parent = nullptr);
};

// The application's glyph, 120 px high; grows a little and glows stronger while a drag hovers.
class BrandGlyph : public QWidget {
 public:
  explicit BrandGlyph(QWidget* parent = nullptr);
  void setTargeted(bool targeted);
  bool isTargeted() const { return targeted_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  bool targeted_ = false;
  qreal emphasis_ = 0;  // 0 at rest, 1 while targeted
  QVariantAnimation animation_;
};

// An indeterminate spinner: twelve spokes turning.
class Spinner : public QWidget {
 public:
  explicit Spinner(int size, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {size_, size_}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int size_;
  int step_ = 0;
  QTimer timer_;
};

}  // namespace kestrane::app
