// Texts, colours, fonts and keys across the boundary to Qt.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QPalette>
#include <QKeyEvent>

#include "FormsFixture.h"
#include "forms/Graphics.h"
#include "forms/Keys.h"
#include "forms/QtBridge.h"

using namespace forms;

TEST(Text1252, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(FromQString(ToQString(all)), all);
}

TEST(Text1252, CharactersOfTheCodePage) {
    struct Case {
        std::string bytes;
        char16_t unicode;
    };
    const Case cases[] = {{"A", u'A'},      {"\x80", 0x20AC}, {"\x92", 0x2019}, {"\x9F", 0x0178},
                          {"\xE9", 0x00E9}, {"\xB0", 0x00B0}, {"\x81", 0x0081}, {"\xFF", 0x00FF}};
    for (const Case& c : cases) {
        const QString q = ToQString(c.bytes);
        ASSERT_EQ(q.size(), 1);
        EXPECT_EQ(q[0].unicode(), c.unicode) << int(static_cast<unsigned char>(c.bytes[0]));
        EXPECT_EQ(FromQString(q), c.bytes);
    }
    EXPECT_EQ(FromQString(QString::fromUtf8("\u4E2D=\u20AC")), "?=\x80");
}

TEST(Colours, LowByteIsRed) {
    EXPECT_EQ(ToQColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(ToQColor(0x00FF00), QColor(0, 255, 0));
    EXPECT_EQ(ToQColor(0x00FFFF), QColor(255, 255, 0));
    EXPECT_EQ(ToQColor(0xF0CAA6), QColor(166, 202, 240));
    EXPECT_EQ(FromQColor(QColor(208, 208, 255)), 0xFFD0D0u);
}

TEST_F(AppTest, SchemeColoursFollowThePalette) {
    EXPECT_EQ(ToQColor(clBtnFace), QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(ToQColor(clWindow), QApplication::palette().color(QPalette::Base));
}

TEST_F(AppTest, FontsMapToInstalledFamiliesByPixelHeight) {
    struct Case {
        const char* name;
        const char* family;
    };
    const Case cases[] = {{"Courier New", "Liberation Mono"},         {"courier new", "Liberation Mono"},
                          {"Fixedsys", "Liberation Mono"},            {"MS Sans Serif", "Liberation Sans Narrow"},
                          {"Tahoma", "Liberation Sans"},              {"Liberation Serif", "Liberation Serif"},
                          {"Arial", "Liberation Sans"},               {"Verdana", "DejaVu Sans"}};
    for (const Case& c : cases) {
        TFont font;
        font.Name = c.name;
        font.Height = -13;
        const QFont q = ToQFont(font);
        EXPECT_EQ(QFontInfo(q).family(), QString(c.family)) << c.name;
        EXPECT_EQ(q.pixelSize(), 13) << c.name;
    }
    TFont bold;
    bold.Style = fsBold;
    bold.Height = 18;  // a cell height: the character is smaller
    EXPECT_TRUE(ToQFont(bold).bold());
    EXPECT_EQ(ToQFont(bold).pixelSize(), 15);
}

TEST_F(AppTest, FunctionKeysAndTheirInverse) {
    struct Case {
        int qt;
        uint16_t vk;
    };
    const Case cases[] = {{Qt::Key_F1, VK_F1},       {Qt::Key_F3, 114},        {Qt::Key_F10, 121},
                          {Qt::Key_F12, VK_F12},     {Qt::Key_Return, 13},     {Qt::Key_Escape, 27},
                          {Qt::Key_PageUp, VK_PRIOR}, {Qt::Key_PageDown, VK_NEXT}, {Qt::Key_A, 'A'},
                          {Qt::Key_7, '7'}};
    for (const Case& c : cases) {
        const QKeyEvent e(QEvent::KeyPress, c.qt, Qt::NoModifier);
        EXPECT_EQ(VirtualKey(e), c.vk) << c.qt;
        EXPECT_EQ(QtKeyFor(c.vk), c.qt) << c.vk;
    }
    EXPECT_EQ(VirtualKey(QKeyEvent(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier)), 0);
}
