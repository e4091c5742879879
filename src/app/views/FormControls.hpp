#pragma once
// The form pieces the options screen is built from: a segmented picker, an on/off switch and a
// titled, rounded section.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QFrame>
#include <QLabel>
#include <QStringList>
#include <QVBoxLayout>

#include <functional>

namespace kestrane::app {

// One choice out of a few, shown side by side; `chosen` hears the user's picks only.
class Segmented : public QWidget {
 public:
  Segmented(const QStringList& titles, std::function<void(int)> chosen, QWidget* parent = nullptr);
  void setCurrent(int index);
  int current() const { return group_.checkedId(); }
  QAbstractButton* segment(int index) const { return group_.button(index); }

 private:
  QButtonGroup group_;
};

// A labelled on/off switch: the title at the left, the switch at the right edge.
class Switch : public QAbstractButton {
 public:
  explicit Switch(const QString& title, QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
};

// A section of the form: a small header above a rounded, slightly lighter box.
class FormSection : public QWidget {
 public:
  FormSection(const QString& title, QWidget* parent = nullptr);
  QVBoxLayout* body() const { return body_; }

 private:
  QVBoxLayout* body_;
};

// A wrapping caption in the secondary colour.
QLabel* captionText(const QString& text, QWidget* parent = nullptr);

}  // namespace kestrane::app
