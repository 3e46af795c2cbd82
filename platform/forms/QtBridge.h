// The boundary between the windows' world and Qt: texts are Windows-1252 bytes inside and QString
// in the widgets; colours are 0x00BBGGRR values; fonts are named by the system's families and
// sized in pixels; keys are virtual-key codes. Only the form layer and its tests include this.
#pragma once
#include <QColor>
#include <QFont>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

class QKeyEvent;

namespace forms {

struct TFont;
using TColor = uint32_t;

// Windows-1252 bytes to text and back. Every byte has a character (the five unassigned ones keep
// their code as C1 controls), so the first direction is lossless; a character outside the code
// page becomes '?'.
QString ToQString(std::string_view text);
std::string FromQString(const QString& text);

QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

// The installed family that stands in for a family of the original platform.
QString FontFamilyFor(std::string_view name);
// A negative height is the character height in pixels, a positive one the cell height.
QFont ToQFont(const TFont& font);

// The virtual-key code of a key event; 0 for a key without one.
uint16_t VirtualKey(const QKeyEvent& event);
// The Qt key of a virtual-key code; 0 for one we do not map.
int QtKeyFor(uint16_t vk);

}  // namespace forms
