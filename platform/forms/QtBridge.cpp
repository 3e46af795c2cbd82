#include "forms/QtBridge.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPalette>
#include <array>

#include "forms/Graphics.h"
#include "forms/Keys.h"

namespace forms {
namespace {

// 0x80..0x9F of Windows-1252; the unassigned five keep their own code.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char ToByte(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == c) return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

QString ToQString(std::string_view text) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        out.append(QChar(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t(b)));
    }
    return out;
}

std::string FromQString(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text) out += ToByte(c.unicode());
    return out;
}

QColor ToQColor(TColor color) {
    if ((color & 0xFF000000u) == 0xFF000000u) {
        const QPalette palette = QApplication::palette();
        switch (color) {
            case clBtnFace: return palette.color(QPalette::Button);
            case clWindow: return palette.color(QPalette::Base);
            case clWindowText: return palette.color(QPalette::Text);
            case clInactiveCaptionText: return QColor(216, 228, 248);
            default: return palette.color(QPalette::Window);
        }
    }
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

TColor FromQColor(const QColor& color) {
    return TColor(color.red()) | TColor(color.green()) << 8 | TColor(color.blue()) << 16;
}

// Installed families whose letters are as wide as the named ones, so that texts fit where they
// were placed; Verdana has none, DejaVu Sans comes nearest.
QString FontFamilyFor(std::string_view name) {
    struct Alias {
        std::string_view from;
        const char* to;
    };
    static constexpr Alias kAliases[] = {
        {"Courier New", "Liberation Mono"}, {"Courier", "Liberation Mono"},
        {"Fixedsys", "Liberation Mono"},    {"MS Sans Serif", "Liberation Sans Narrow"},
        {"Tahoma", "Liberation Sans"},      {"Arial", "Liberation Sans"},
        {"Verdana", "DejaVu Sans"},         {"Times New Roman", "Liberation Serif"},
    };
    for (const Alias& a : kAliases)
        if (QString::compare(ToQString(a.from), ToQString(name), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(a.to);
    return ToQString(name);
}

QFont ToQFont(const TFont& font) {
    QFont f(FontFamilyFor(font.Name));
    // A cell height includes the internal leading, about a sixth of it.
    const int pixels = font.Height < 0 ? -font.Height : font.Height * 5 / 6;
    f.setPixelSize(std::max(pixels, 1));
    f.setBold(font.Style & fsBold);
    f.setItalic(font.Style & fsItalic);
    f.setUnderline(font.Style & fsUnderline);
    return f;
}

namespace {

struct KeyPair {
    int qt;
    uint16_t vk;
};
constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, VK_BACK}, {Qt::Key_Tab, VK_TAB},         {Qt::Key_Backtab, VK_TAB},
    {Qt::Key_Return, VK_RETURN},  {Qt::Key_Enter, VK_RETURN},    {Qt::Key_Shift, VK_SHIFT},
    {Qt::Key_Control, VK_CONTROL}, {Qt::Key_Alt, VK_MENU},       {Qt::Key_Escape, VK_ESCAPE},
    {Qt::Key_Space, VK_SPACE},    {Qt::Key_PageUp, VK_PRIOR},    {Qt::Key_PageDown, VK_NEXT},
    {Qt::Key_End, VK_END},        {Qt::Key_Home, VK_HOME},       {Qt::Key_Left, VK_LEFT},
    {Qt::Key_Up, VK_UP},          {Qt::Key_Right, VK_RIGHT},     {Qt::Key_Down, VK_DOWN},
    {Qt::Key_Insert, VK_INSERT},  {Qt::Key_Delete, VK_DELETE},
};

}  // namespace

uint16_t VirtualKey(const QKeyEvent& event) {
    const int key = event.key();
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<uint16_t>(VK_F1 + (key - Qt::Key_F1));
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return static_cast<uint16_t>(key);
    for (const KeyPair& k : kKeys)
        if (k.qt == key) return k.vk;
    return 0;
}

int QtKeyFor(uint16_t vk) {
    if (vk >= VK_F1 && vk < VK_F1 + 24) return Qt::Key_F1 + (vk - VK_F1);
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return vk;
    for (const KeyPair& k : kKeys)
        if (k.vk == vk) return k.qt;
    return 0;
}

}  // namespace forms
