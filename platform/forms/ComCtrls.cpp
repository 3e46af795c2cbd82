#include "forms/ComCtrls.h"

#include <QImage>
#include <algorithm>
#include <QPainter>
#include <QProgressBar>
#include <QWidget>

#include "forms/QtBridge.h"

namespace forms {

class StatusBarWidget : public QWidget {
public:
    explicit StatusBarWidget(TStatusBar* bar) : bar_(bar) {}

protected:
    void paintEvent(QPaintEvent*) override { bar_->Paint(this); }

private:
    TStatusBar* bar_;
};

TStatusBar::TStatusBar(TForm* owner, std::string name)
    : TControl(owner, new StatusBarWidget(this), std::move(name)) {}

TRect TStatusBar::PanelRect(size_t index) const {
    int left = 0;
    for (size_t i = 0; i < index && i < Panels.size(); ++i) left += Panels[i].Width;
    const bool last = index + 1 >= Panels.size();
    const int right = last ? Width() : left + Panels[index].Width;
    // Inside the panel's sunken border, with a gap before the next panel.
    return TRect{left + 1, 2, std::max(left + 1, right - (last ? 1 : 3)), std::max(2, Height() - 1)};
}

void TStatusBar::Paint(QWidget* widget) {
    QPainter painter(widget);
    painter.fillRect(widget->rect(), ToQColor(clBtnFace));
    for (size_t i = 0; i < Panels.size(); ++i) {
        const TRect r = PanelRect(i);
        const QRect frame(r.Left - 1, r.Top - 1, r.Width() + 1, r.Height() + 1);
        painter.setPen(ToQColor(clGray));
        painter.drawLine(frame.topLeft(), frame.topRight());
        painter.drawLine(frame.topLeft(), frame.bottomLeft());
        painter.setPen(Qt::white);
        painter.drawLine(frame.bottomLeft(), frame.bottomRight());
        painter.drawLine(frame.topRight(), frame.bottomRight());
        canvas_.Font = Font();
        canvas_.Brush.Color = clBtnFace;
        canvas_.Attach(&painter);
        painter.save();
        painter.setClipRect(QRect(r.Left, r.Top, r.Width(), r.Height()));
        if (Panels[i].OwnerDraw) {
            if (OnDrawPanel) OnDrawPanel(this, Panels[i], r);
        } else {
            canvas_.TextOut(r.Left + 2, r.Top + (r.Height() - canvas_.TextHeight(Panels[i].Text)) / 2, Panels[i].Text);
        }
        painter.restore();
        canvas_.Detach();
    }
}

TProgressBar::TProgressBar(TForm* owner, std::string name) : TControl(owner, new QProgressBar, std::move(name)) {
    static_cast<QProgressBar*>(Widget())->setTextVisible(false);
    SetRange(0, 100);
}

void TProgressBar::SetRange(int min, int max) { static_cast<QProgressBar*>(Widget())->setRange(min, max); }
int TProgressBar::Position() const { return static_cast<QProgressBar*>(Widget())->value(); }
void TProgressBar::SetPosition(int position) {
    auto* bar = static_cast<QProgressBar*>(Widget());
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

TImageList::TImageList(int width, int height) : width_(width), height_(height) {}
TImageList::~TImageList() = default;

int TImageList::Add(TBitmap& bitmap) {
    images_.push_back(std::make_unique<QImage>(bitmap.Image().copy(0, 0, width_, height_)));
    return Count() - 1;
}

const QImage* TImageList::Image(int index) const {
    return index >= 0 && index < Count() ? images_[static_cast<size_t>(index)].get() : nullptr;
}

}  // namespace forms
