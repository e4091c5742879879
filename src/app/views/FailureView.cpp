#include "app/views/FailureView.hpp"

#include <QPushButton>
#include <QVBoxLayout>

#include "app/views/Brand.hpp"
#include "app/views/Symbols.hpp"

namespace kestrane::app {

FailureView::FailureView(AppServices services, QWidget* parent) : ScreenView(services, parent) {
  setObjectName(QStringLiteral("failure"));
  auto* column = new QVBoxLayout(this);
  column->setSpacing(16);
  column->addStretch(1);
  QLabel* symbol = Symbols::label(QStringLiteral("exclamationmark.triangle.fill"), Brand::yellow, 44, this);
  symbol->setObjectName(QStringLiteral("failureSymbol"));
  column->addWidget(symbol, 0, Qt::AlignHCenter);
  column->addWidget(Brand::label(QStringLiteral("Couldn't finish the cut"), Brand::TextStyle::title3,
                                 Brand::primaryText, QFont::DemiBold));
  auto* message = Brand::label(job().state().message, Brand::TextStyle::callout, Brand::secondaryText);
  message->setObjectName(QStringLiteral("failureMessage"));
  column->addLayout(Brand::centred(message, 380));
  if (const QStringList& notes = job().state().notes; !notes.isEmpty()) {
    // What the failure left behind: the package stays, and may hold a movie of an earlier cut.
    auto* left = Brand::label(notes.join(QLatin1Char('\n')), Brand::TextStyle::caption, Brand::secondaryText);
    left->setObjectName(QStringLiteral("failureNotes"));
    column->addLayout(Brand::centred(left, 520));
  }
  auto* retry = Brand::button(QStringLiteral("Try Again"), Brand::ButtonLook::prominent);
  retry->setObjectName(QStringLiteral("tryAgain"));
  connect(retry, &QPushButton::clicked, this, [this] { job().retryFromFailure(); });
  column->addWidget(retry, 0, Qt::AlignHCenter);
  column->addStretch(1);
}

}  // namespace kestrane::app
