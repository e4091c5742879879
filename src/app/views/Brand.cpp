#include "app/views/Brand.hpp"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QStringList>
#include <QPalette>
#include <QStyleFactory>

namespace kestrane::app::Brand {

QFont font(TextStyle style, QFont::Weight weight) {
  // Sizes in pixels at 96 dpi, set as points so the desktop's font scaling still applies.
  struct StyleSize {
    int pixels;
    QFont::Weight weight;
  };
  static constexpr StyleSize sizes[] = {
      {22, QFont::Normal},    // title2
      {19, QFont::Normal},    // title3
      {15, QFont::DemiBold},  // headline
      {15, QFont::Normal},    // body
      {14, QFont::Normal},    // callout
      {12, QFont::Normal},    // footnote
      {12, QFont::Normal},    // caption
      {11, QFont::Normal},    // caption2
  };
  const StyleSize& size = sizes[static_cast<int>(style)];
  QFont f = QApplication::font();
  f.setPointSizeF(size.pixels * 0.75);
  f.setWeight(weight == QFont::Normal ? size.weight : weight);
  return f;
}

QString hex(const QColor& colour) { return colour.name(QColor::HexRgb); }

namespace {

// Greedy lines of at most `width` pixels.
QStringList greedyLines(const QStringList& words, const QFontMetrics& metrics, int width) {
  QStringList lines;
  QString line;
  for (const QString& word : words) {
    const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
    if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
      lines << line;
      line = word;
    } else {
      line = longer;
    }
  }
  if (!line.isEmpty()) lines << line;
  return lines;
}

}  // namespace

QString wrapped(const QString& text, const QFontMetrics& metrics, int width) {
  const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  QStringList lines = greedyLines(words, metrics, width);
  // As few lines as the width allows, then as even as they can be: the narrowest width that
  // needs no more lines, so a lone last word is not left hanging.
  for (int narrower = width - 1; lines.size() > 1; --narrower) {
    QStringList tried = greedyLines(words, metrics, narrower);
    if (tried.size() > lines.size()) break;
    lines = std::move(tried);
  }
  return lines.join(QLatin1Char('\n'));
}

QLayout* centred(QWidget* widget, int maxWidth) {
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->addStretch(1);
  widget->setMaximumWidth(maxWidth);
  row->addWidget(widget, 1000);
  row->addStretch(1);
  return row;
}

void applyTheme(QApplication& app) {
  app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette p;
  const QColor base(22, 21, 26);
  const QColor button(52, 50, 58);
  p.setColor(QPalette::Window, windowBackground);
  p.setColor(QPalette::WindowText, primaryText);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, windowBackground);
  p.setColor(QPalette::ToolTipBase, button);
  p.setColor(QPalette::ToolTipText, primaryText);
  p.setColor(QPalette::PlaceholderText, tertiaryText);
  p.setColor(QPalette::Text, primaryText);
  p.setColor(QPalette::Button, button);
  p.setColor(QPalette::ButtonText, primaryText);
  p.setColor(QPalette::BrightText, Qt::white);
  p.setColor(QPalette::Highlight, accent);
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, accent);
  p.setColor(QPalette::LinkVisited, deep);
  p.setColor(QPalette::Light, QColor(70, 68, 78));
  p.setColor(QPalette::Midlight, QColor(60, 58, 66));
  p.setColor(QPalette::Mid, QColor(44, 42, 50));
  p.setColor(QPalette::Dark, QColor(16, 15, 19));
  p.setColor(QPalette::Shadow, Qt::black);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, tertiaryText);
  }
  app.setPalette(p);
  QFont f = app.font();
  // Inter when it is installed, else the system's DejaVu.
  f.setFamilies({QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")});
  f.setStyleHint(QFont::SansSerif);
  f.setPointSizeF(15 * 0.75);
  app.setFont(f);
}

QLabel* label(const QString& text, TextStyle style, const QColor& colour, QFont::Weight weight, Qt::Alignment align,
              QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setTextFormat(Qt::PlainText);
  l->setFont(font(style, weight));
  l->setAlignment(align);
  l->setWordWrap(true);
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText, colour);
  l->setPalette(p);
  return l;
}

QPushButton* button(const QString& text, ButtonLook look, ControlSize size, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  const bool small = size == ControlSize::small;
  b->setFont(font(small ? TextStyle::caption : look == ButtonLook::link ? TextStyle::callout : TextStyle::body));
  const QString padding = size == ControlSize::large ? QStringLiteral("9px 16px")
                          : small                    ? QStringLiteral("3px 9px")
                                                     : QStringLiteral("5px 12px");
  switch (look) {
    case ButtonLook::prominent:
      // Disabled, the violet fades into the window and the text dims, so a button that does
      // nothing does not look pressable.
      b->setStyleSheet(
          QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 7px; padding: %2; }"
                         "QPushButton:hover { background: %3; } QPushButton:pressed { background: %4; }"
                         "QPushButton:disabled { background: %5; color: %6; }")
              .arg(hex(accent), padding, hex(accent.lighter(110)), hex(deep), hex(disabledProminent),
                   hex(tertiaryText)));
      break;
    case ButtonLook::bordered:
      b->setStyleSheet(
          QStringLiteral("QPushButton { background: #3a3841; color: %1; border: 1px solid #4a4852; border-radius: 7px;"
                         " padding: %2; } QPushButton:hover { background: #45434d; }"
                         " QPushButton:pressed { background: #2f2d35; }"
                         " QPushButton:disabled { background: #2c2b31; color: %3; border-color: #3a3841; }")
              .arg(hex(primaryText), padding, hex(tertiaryText)));
      break;
    case ButtonLook::link:
      b->setFlat(true);
      b->setCursor(Qt::PointingHandCursor);
      b->setStyleSheet(
          QStringLiteral("QPushButton { background: transparent; color: %1; border: none; padding: 2px 0px; }"
                         "QPushButton:hover { color: %2; }")
              .arg(hex(accent), hex(accent.lighter(120))));
      break;
  }
  return b;
}

}  // namespace kestrane::app::Brand
