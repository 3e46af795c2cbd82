// Colours, fonts, rectangles and the drawing surface of owner-drawn controls and off-screen
// bitmaps. A canvas draws only while its control paints (inside the draw handlers) or, for a
// bitmap, at any time.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QImage;
class QPainter;
class QPaintDevice;

namespace forms {

// 0x00BBGGRR: red in the low byte. 0xFF0000nn names a colour of the platform's scheme.
using TColor = uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clGray = 0x808080;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clWindow = 0xFF000005;
constexpr TColor clWindowText = 0xFF000008;
constexpr TColor clInactiveCaptionText = 0xFF000013;

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4 };
using TFontStyles = uint8_t;

struct TFont {
    std::string Name = "MS Sans Serif";
    int Height = -11;  // negative: character height in pixels; positive: cell height
    TFontStyles Style = 0;
    TColor Color = clWindowText;
    bool operator==(const TFont&) const = default;
};

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

struct TBrush {
    TColor Color = clWhite;
};

class TBitmap;

class TCanvas {
public:
    TCanvas();
    ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TFont Font;
    TBrush Brush;

    void FillRect(const TRect& rect);
    // The text's cell starts at (x, y); drawn in Font.Color, the background left as it is.
    void TextOut(int x, int y, std::string_view text);
    int TextWidth(std::string_view text) const;
    int TextHeight(std::string_view text) const;
    void Draw(int x, int y, TBitmap& bitmap);

    // The form layer points the canvas at a painter for the length of a paint handler.
    void Attach(QPainter* painter);
    void Detach();
    bool CanDraw() const { return painter_ != nullptr; }

private:
    friend class TBitmap;
    QPainter* painter_ = nullptr;
    std::unique_ptr<QPainter> own_;  // a bitmap's painter, opened at its first drawing
    QPaintDevice* device_ = nullptr;
    QPainter* Painter();
};

class TBitmap {
public:
    TBitmap();
    TBitmap(int width, int height);
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // Resizing drops the picture (the new one is white).
    void SetSize(int width, int height);
    int Width() const;
    int Height() const;
    TCanvas& Canvas() { return canvas_; }
    // Ends any drawing in progress and gives the picture.
    const QImage& Image();

private:
    std::unique_ptr<QImage> image_;
    TCanvas canvas_;
};

}  // namespace forms
