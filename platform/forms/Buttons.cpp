#include "forms/Buttons.h"

#include <QImage>
#include <QPixmap>
#include <QToolButton>

#include "forms/QtBridge.h"

namespace forms {
namespace {
QToolButton* AsTool(QWidget* w) { return static_cast<QToolButton*>(w); }
}

TSpeedButton::TSpeedButton(TForm* owner, std::string name)
    : TControl(owner, new QToolButton, std::move(name)) {
    auto* b = AsTool(Widget());
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    QObject::connect(b, &QToolButton::clicked, [this] {
        if (OnClick) OnClick(this);
    });
}

std::string TSpeedButton::Caption() const { return FromQString(AsTool(Widget())->text()); }
void TSpeedButton::SetCaption(const std::string& caption) { AsTool(Widget())->setText(ToQString(caption)); }

void TSpeedButton::SetGlyph(TBitmap& glyph) {
    const QPixmap pixmap = QPixmap::fromImage(glyph.Image());
    AsTool(Widget())->setIcon(QIcon(pixmap));
    AsTool(Widget())->setIconSize(pixmap.size());
}

void TSpeedButton::SetFlat(bool flat) { AsTool(Widget())->setAutoRaise(flat); }
void TSpeedButton::SetTransparent(bool transparent) { Widget()->setAutoFillBackground(!transparent); }
void TSpeedButton::Click() { AsTool(Widget())->click(); }

}  // namespace forms
