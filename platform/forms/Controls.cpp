#include "forms/Controls.h"

#include <QPalette>
#include <QVariant>
#include <QWidget>
#include <algorithm>

#include "forms/Forms.h"
#include "forms/QtBridge.h"

namespace forms {
namespace {
constexpr char kControlProperty[] = "formsControl";
}

TControl::TControl(TForm* owner, QWidget* widget, std::string name)
    : Name(std::move(name)), owner_(owner), widget_(widget) {
    widget_->setParent(owner_->Widget());
    widget_->setProperty(kControlProperty, QVariant::fromValue(static_cast<void*>(this)));
    widget_->show();
    owner_->controls_.push_back(this);
}

TControl::~TControl() {
    auto& list = owner_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    delete widget_;
}

TControl* TControl::Of(QWidget* widget) {
    for (QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        const QVariant v = w->property(kControlProperty);
        if (v.isValid()) return static_cast<TControl*>(v.value<void*>());
    }
    return nullptr;
}

int TControl::Left() const { return widget_->x(); }
int TControl::Top() const { return widget_->y(); }
int TControl::Width() const { return widget_->width(); }
int TControl::Height() const { return widget_->height(); }
void TControl::SetBounds(int left, int top, int width, int height) {
    widget_->setGeometry(left, top, std::max(width, 0), std::max(height, 0));
}
void TControl::SetLeft(int left) { widget_->move(left, Top()); }
void TControl::SetTop(int top) { widget_->move(Left(), top); }
void TControl::SetWidth(int width) { widget_->resize(std::max(width, 0), Height()); }
void TControl::SetHeight(int height) { widget_->resize(Width(), std::max(height, 0)); }

bool TControl::Visible() const { return !widget_->isHidden(); }
void TControl::SetVisible(bool visible) { widget_->setVisible(visible); }
bool TControl::Enabled() const { return widget_->isEnabled(); }
void TControl::SetEnabled(bool enabled) { widget_->setEnabled(enabled); }
void TControl::SetHint(const std::string& hint) { widget_->setToolTip(ToQString(hint)); }
void TControl::SetCursor(TCursor cursor) {
    widget_->setCursor(cursor == TCursor::crHandPoint ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TControl::SetTabStop(bool tabStop) { widget_->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::NoFocus); }

TFont TControl::Font() const { return font_ ? *font_ : owner_->Font(); }

void TControl::SetFont(const TFont& font) {
    font_ = font;
    widget_->setFont(ToQFont(font));
    QPalette palette = widget_->palette();
    const QColor text = ToQColor(font.Color);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    widget_->setPalette(palette);
    FontChanged();
}

void TControl::SetFontColor(TColor color) {
    TFont font = Font();
    font.Color = color;
    SetFont(font);
}

void TControl::SetColor(TColor color) {
    color_ = color;
    QPalette palette = widget_->palette();
    palette.setColor(QPalette::Window, ToQColor(color));
    palette.setColor(QPalette::Base, ToQColor(color));
    palette.setColor(QPalette::Button, ToQColor(color));
    widget_->setPalette(palette);
    widget_->setAutoFillBackground(true);
    widget_->update();
}

void TControl::SetFocus() { widget_->setFocus(Qt::OtherFocusReason); }
bool TControl::Focused() const { return widget_->hasFocus(); }
void TControl::Repaint() { widget_->repaint(); }
void TControl::Invalidate() { widget_->update(); }

}  // namespace forms
