#pragma once
// The brand's colours, the text styles every screen draws with, and the dark theme.
#include <QApplication>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace kestrane::app::Brand {

inline const QColor accent{168, 85, 247};
inline const QColor deep{124, 58, 237};
inline const QColor wordmarkWhite{244, 242, 250};

inline const QColor windowBackground{30, 29, 34};
inline const QColor primaryText{236, 234, 240};
inline const QColor secondaryText{150, 147, 158};
inline const QColor tertiaryText{104, 101, 112};
inline const QColor green{48, 209, 88};
inline const QColor red{255, 69, 58};
inline const QColor orange{255, 159, 10};
inline const QColor yellow{255, 214, 10};
inline const QColor teal{64, 200, 224};
// The accent at about a third over the window: a prominent button that cannot be pressed.
inline const QColor disabledProminent{76, 47, 104};

enum class TextStyle { title2, title3, headline, body, callout, footnote, caption, caption2 };

QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);

// Fusion with a dark palette and the violet accent, for the whole application.
void applyTheme(QApplication& app);

// A label in one text style and colour; wraps and centres when asked.
QLabel* label(const QString& text, TextStyle style, const QColor& colour, QFont::Weight weight = QFont::Normal,
              Qt::Alignment align = Qt::AlignCenter, QWidget* parent = nullptr);

enum class ButtonLook { prominent, bordered, link };
enum class ControlSize { small, regular, large };
// A push button in one of the three looks the screens use, in one of the control sizes.
QPushButton* button(const QString& text, ButtonLook look, ControlSize size, QWidget* parent = nullptr);
// The same in the regular size, or the tall one when `large`.
inline QPushButton* button(const QString& text, ButtonLook look, bool large = false, QWidget* parent = nullptr) {
  return button(text, look, large ? ControlSize::large : ControlSize::regular, parent);
}

QString hex(const QColor& colour);

// `text` broken into lines at spaces so that each fits `width` pixels where it can (a single
// word wider than that keeps its own line); push buttons draw each line centred.
QString wrapped(const QString& text, const QFontMetrics& metrics, int width);

// `widget` centred in a row, as wide as the row allows up to `maxWidth`. Wrapping labels keep
// their full height this way, which a centring alignment flag would lose.
QLayout* centred(QWidget* widget, int maxWidth);

}  // namespace kestrane::app::Brand
