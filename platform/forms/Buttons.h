// Speed buttons (flat, glyph over caption, never focused) and bitmap buttons.
#pragma once
#include <string>

#include "forms/Controls.h"
#include "forms/StdCtrls.h"

namespace forms {

// A bitmap button acts as a push button; its glyph is not drawn.
using TBitBtn = TButton;

class TSpeedButton : public TControl {
public:
    explicit TSpeedButton(TForm* owner, std::string name = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    // The picture above the caption.
    void SetGlyph(TBitmap& glyph);
    void SetFlat(bool flat);
    // A transparent button lets the form (or a picture) show through.
    void SetTransparent(bool transparent);
    // Presses the button as a click does (nothing while it is disabled).
    void Click();
    TNotifyEvent OnClick;
};

}  // namespace forms
