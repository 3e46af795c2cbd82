// For tests that drive real forms (with QT_QPA_PLATFORM=offscreen): keys, mouse releases,
// activation and screenshots, each through the same paths the user's input takes.
#pragma once
#include <cstdint>
#include <string>

#include "forms/Controls.h"

namespace forms {
class TForm;
}

namespace forms::drive {

// A key pressed in the form, delivered to its focused control (or the form itself); with ssRepeat
// it is an auto-repeat of a held key.
void PressKey(TForm& form, uint16_t vk, TShiftState shift = 0);
// Characters typed into the form's focused control, one key each.
void TypeText(TForm& form, const std::string& text);
// A mouse button released at (x, y) of the control's client area.
void MouseUp(TControl& control, TMouseButton button, int x, int y);
// Shows the form and lets the platform report its activation.
void Activate(TForm& form);
// The window manager asks the form's window to close.
void CloseRequest(TForm& form);
// The form's client area as a PNG file.
bool SaveScreenshot(TForm& form, const std::string& path);

}  // namespace forms::drive
