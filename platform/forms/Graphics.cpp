#include "forms/Graphics.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "forms/QtBridge.h"

namespace forms {

TCanvas::TCanvas() = default;
TCanvas::~TCanvas() = default;

void TCanvas::Attach(QPainter* painter) { painter_ = painter; }

void TCanvas::Detach() {
    own_.reset();
    painter_ = nullptr;
}

QPainter* TCanvas::Painter() {
    if (!painter_ && device_) {
        own_ = std::make_unique<QPainter>(device_);
        painter_ = own_.get();
    }
    return painter_;
}

void TCanvas::FillRect(const TRect& rect) {
    if (QPainter* p = Painter())
        p->fillRect(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()), ToQColor(Brush.Color));
}

void TCanvas::TextOut(int x, int y, std::string_view text) {
    QPainter* p = Painter();
    if (!p) return;
    const QFont font = ToQFont(Font);
    p->setFont(font);
    p->setPen(ToQColor(Font.Color));
    p->drawText(QPoint(x, y + QFontMetrics(font).ascent()), ToQString(text));
}

int TCanvas::TextWidth(std::string_view text) const {
    return QFontMetrics(ToQFont(Font)).horizontalAdvance(ToQString(text));
}

int TCanvas::TextHeight(std::string_view) const { return QFontMetrics(ToQFont(Font)).height(); }

void TCanvas::Draw(int x, int y, TBitmap& bitmap) {
    const QImage& image = bitmap.Image();
    if (QPainter* p = Painter()) p->drawImage(x, y, image);
}

TBitmap::TBitmap() : TBitmap(0, 0) {}

TBitmap::TBitmap(int width, int height) : image_(std::make_unique<QImage>()) { SetSize(width, height); }

TBitmap::~TBitmap() { canvas_.Detach(); }

void TBitmap::SetSize(int width, int height) {
    canvas_.Detach();
    *image_ = QImage(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32);
    image_->fill(Qt::white);
    canvas_.device_ = image_->isNull() ? nullptr : image_.get();
}

int TBitmap::Width() const { return image_->width(); }
int TBitmap::Height() const { return image_->height(); }

const QImage& TBitmap::Image() {
    canvas_.Detach();
    return *image_;
}

}  // namespace forms
