// The base of every control on a form: bounds in the form's client coordinates, name, tag,
// visibility, enabling, hint, font and colour, anchors, focus and repainting, and the key handler.
// A control is a member of its form: built with the form, destroyed with it.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "forms/Graphics.h"

class QWidget;

namespace forms {

class TForm;
class TControl;

// ssRepeat: the press is the keyboard's auto-repeat of a key held down.
enum TShift : uint8_t { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssRepeat = 64 };
using TShiftState = uint8_t;
enum class TMouseButton { mbLeft, mbRight, mbMiddle };
enum TAnchor : uint8_t { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = uint8_t;
enum class TCursor { crDefault, crHandPoint };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

using TNotifyEvent = std::function<void(TControl* Sender)>;
// Setting Key to 0 consumes the key.
using TKeyEvent = std::function<void(TControl* Sender, uint16_t& Key, TShiftState Shift)>;
using TMouseEvent = std::function<void(TControl* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

class TControl {
public:
    virtual ~TControl();
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    std::string Name;
    int Tag = 0;
    // Kept at their distance to the form's client edges when the form is resized.
    TAnchors Anchors = akLeft | akTop;
    TKeyEvent OnKeyDown;

    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetBounds(int left, int top, int width, int height);
    void SetLeft(int left);
    void SetTop(int top);
    void SetWidth(int width);
    void SetHeight(int height);

    bool Visible() const;
    void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const;
    void SetEnabled(bool enabled);
    void SetHint(const std::string& hint);
    void SetCursor(TCursor cursor);
    // Whether the control takes the focus (by Tab or click).
    void SetTabStop(bool tabStop);

    // The control's own font, or the form's while it has none.
    TFont Font() const;
    void SetFont(const TFont& font);
    void SetFontColor(TColor color);
    TColor Color() const { return color_; }
    // Fills the control's background with the colour.
    void SetColor(TColor color);

    virtual void SetFocus();
    bool Focused() const;
    // Repaint draws at once, Invalidate at the next paint.
    virtual void Repaint();
    virtual void Invalidate();

    // Whether Enter belongs to the control rather than to the form's default button.
    virtual bool WantsReturn() const { return false; }

    TForm* Owner() const { return owner_; }
    QWidget* Widget() const { return widget_; }
    // The control a widget belongs to (itself or one of its parts), or nullptr.
    static TControl* Of(QWidget* widget);

protected:
    // Takes the widget over and puts it on the form.
    TControl(TForm* owner, QWidget* widget, std::string name);
    virtual void FontChanged() {}

private:
    TForm* owner_;
    QWidget* widget_;
    std::optional<TFont> font_;
    TColor color_ = clBtnFace;
};

}  // namespace forms
