// Status bars with owner-drawn panels, progress bars and image lists.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "forms/Controls.h"

class QImage;

namespace forms {

struct TStatusPanel {
    std::string Text;
    int Width = 50;
    bool OwnerDraw = false;  // drawn by OnDrawPanel instead of showing Text
};

class TStatusBar;
// Rect is the panel's inside, in the bar's coordinates; draw on the bar's Canvas().
using TDrawPanelEvent = std::function<void(TStatusBar* StatusBar, TStatusPanel& Panel, const TRect& Rect)>;

// Panels side by side from the left; the last one takes the rest of the bar.
class TStatusBar : public TControl {
public:
    explicit TStatusBar(TForm* owner, std::string name = {});
    std::vector<TStatusPanel> Panels;  // changes show at the next paint
    TDrawPanelEvent OnDrawPanel;
    TCanvas& Canvas() { return canvas_; }
    TRect PanelRect(size_t index) const;

private:
    friend class StatusBarWidget;
    void Paint(QWidget* widget);
    TCanvas canvas_;
};

class TProgressBar : public TControl {
public:
    explicit TProgressBar(TForm* owner, std::string name = {});
    void SetRange(int min, int max);
    int Position() const;
    void SetPosition(int position);
};

// Pictures of one size, by index, for tree views.
class TImageList {
public:
    TImageList(int width = 16, int height = 16);
    ~TImageList();
    TImageList(const TImageList&) = delete;
    TImageList& operator=(const TImageList&) = delete;
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Adds a copy of the bitmap; returns its index.
    int Add(TBitmap& bitmap);
    int Count() const { return static_cast<int>(images_.size()); }
    // nullptr for an index out of range.
    const QImage* Image(int index) const;

private:
    int width_, height_;
    std::vector<std::unique_ptr<QImage>> images_;
};

}  // namespace forms
