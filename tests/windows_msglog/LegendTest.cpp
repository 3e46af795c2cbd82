// The legend: the lines taken from a legend file, and the window the log shows and hides with F9,
// reloaded at each show.
#include <QFontMetrics>
#include <QImage>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>

#include "LogFixture.h"

using namespace forms;

namespace {

struct LinesCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
};

class LegendLinesTest : public ::testing::TestWithParam<LinesCase> {};

std::string Repeated(int count, const std::string& line) {
    std::string s;
    for (int i = 0; i < count; ++i) s += line + std::to_string(i) + "\n";
    return s;
}

std::vector<std::string> Numbered(int count, const std::string& text) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) lines.push_back(text + std::to_string(i));
    return lines;
}

}  // namespace

TEST_P(LegendLinesTest, TextAfterTheLastColonOfEachLine) { EXPECT_EQ(LegendLines(GetParam().bytes), GetParam().lines); }

INSTANTIATE_TEST_SUITE_P(
    Lines, LegendLinesTest,
    ::testing::Values(
        LinesCase{"OneColon", "X1: first text\n", {" first text"}},
        LinesCase{"LastColonCounts", "X1: X2: second text\n", {" second text"}},
        LinesCase{"EndingInColon", "ends:\n", {""}},
        LinesCase{"NothingForLinesWithoutColon", "\nno colon\nA:a\n", {"a"}},
        LinesCase{"CarriageReturnsDropped", "a: one\r\nb: two\nc:\tthree \r\n", {" one", " two", "\tthree "}},
        LinesCase{"LastLineWithoutLineFeed", "a: one\nb: last", {" one", " last"}},
        LinesCase{"Empty", "", {}},
        LinesCase{"SingleByteText", "SP: [\xB0" "C]\n", {" [\xB0" "C]"}},
        LinesCase{"HundredLinesAtMost", Repeated(150, "k:v"), Numbered(100, "v")},
        LinesCase{"EveryColonCounts", Repeated(60, "k:x:v"), Numbered(50, "v")},
        LinesCase{"ManyColonsInOneLine", std::string(300, ':') + "last\nk:more\n", {"last"}}),
    [](const auto& info) { return std::string(info.param.name); });

class LegendTest : public LogTest {
protected:
    fs::path File() const { return base / "USR" / "Legend.txt"; }
    std::vector<std::string> Memo() const {
        std::vector<std::string> lines;
        for (int i = 0; i < LegendForm->MemoLegend.LineCount(); ++i) lines.push_back(LegendForm->MemoLegend.Line(i));
        return lines;
    }
};

TEST_F(LegendTest, F9ShowsTheLegendReloadedFromItsFileAndHidesItAgain) {
    TMsgUIForm& log = Open();
    EXPECT_FALSE(LegendForm->Visible()) << "created hidden";
    Press(VK_F9);
    ASSERT_TRUE(LegendForm->Visible());
    EXPECT_EQ(log.LegendShown, 1);
    EXPECT_EQ(app->ActiveForm(), &log);
    EXPECT_EQ(LegendForm->Caption(), "LEGEND");
    const std::vector<std::string> shipped = Memo();
    ASSERT_EQ(shipped.size(), 35u);
    EXPECT_EQ(shipped[0], " dt   [ms] dal msg. prec.");
    EXPECT_TRUE(boxes.empty());
    auto* memo = qobject_cast<QPlainTextEdit*>(LegendForm->MemoLegend.Widget());
    const QFontMetrics metrics(memo->font());
    const int room = memo->viewport()->width() - 2 * int(memo->document()->documentMargin());
    for (const std::string& line : shipped)
        EXPECT_LE(metrics.horizontalAdvance(QString::fromLatin1(line)), room) << "cut at the right edge: " << line;
    EXPECT_EQ(memo->horizontalScrollBar()->maximum(), 0);

    WriteText(File(), "A: alpha\r\nB: beta\r\n");
    Press(VK_F9);
    EXPECT_FALSE(LegendForm->Visible());
    EXPECT_EQ(log.LegendShown, 0);
    EXPECT_EQ(Memo(), shipped) << "hiding leaves the memo as it is";
    Press(VK_F9);
    EXPECT_EQ(Memo(), (std::vector<std::string>{" alpha", " beta"}));

    // The window manager's close button hides it as F9 does; the log stays, and F9 shows it again.
    drive::CloseRequest(*LegendForm);
    EXPECT_FALSE(LegendForm->Visible());
    EXPECT_EQ(log.LegendShown, 0);
    EXPECT_TRUE(log.Visible());
    EXPECT_FALSE(app->Terminated());
    Press(VK_F9);
    EXPECT_TRUE(LegendForm->Visible());

    // Minimised by the window manager, it counts as hidden: F9 brings it back, the next hides it.
    LegendForm->SetWindowState(forms::TWindowState::wsMinimized);
    Press(VK_F9);
    EXPECT_TRUE(LegendForm->Visible());
    EXPECT_EQ(LegendForm->WindowState(), forms::TWindowState::wsNormal);
    Press(VK_F9);
    EXPECT_FALSE(LegendForm->Visible());
}

TEST_F(LegendTest, MissingFileShowsABoxAndKeepsTheMemo) {
    // An installation folder with an accented name: the box spells it as the file system does.
    BaseDir = base.string() + "/per\xC3\xB2/";
    Open();
    Press(VK_F9);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "File: " + base.string() + "/per\xF2/USR/Legend.txt\r\nNot found");
    EXPECT_EQ(boxes[0].caption, "ATTENZIONE");
    EXPECT_TRUE(LegendForm->Visible());
    EXPECT_EQ(Memo(), (std::vector<std::string>{"MemoLegend"}));

    Press(VK_F9);
    BaseDir = base.string() + "/";
    WriteText(File(), "A: alpha\n");
    Press(VK_F9);
    EXPECT_EQ(Memo(), (std::vector<std::string>{" alpha"}));
    Press(VK_F9);
    fs::remove(File());
    Press(VK_F9);
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(Memo(), (std::vector<std::string>{" alpha"}));
}

TEST_F(LegendTest, RegistersItsTitleAndFollowsItsSize) {
    WriteText(base / "USR" / "AppStr.cfg", "\"APPLICATION_TITLE\" \"PLANT\" \"P\" \"P\" \"P\"\r\n");
    ASSERT_TRUE((AppStr = std::make_unique<TAppStrings>("USR\\AppStr.cfg"))->Load());
    Open();
    EXPECT_NE(ReadText(base / "USR" / "AppStr.cfg").find("\"LEGEND_TITLE\""), std::string::npos);
    EXPECT_EQ(InvalidateList->back().Data, LegendForm);
    EXPECT_EQ(MsgUIForm->Caption(), "PLANT - MESSAGE LOG");
    Press(VK_F9);
    EXPECT_EQ(LegendForm->Caption(), "LEGEND") << "the title alone";
    LegendForm->SetClientSize(300, 500);
    app->ProcessMessages();
    EXPECT_EQ(LegendForm->MemoLegend.Left(), 8);
    EXPECT_EQ(LegendForm->MemoLegend.Top(), 7);
    EXPECT_EQ(LegendForm->MemoLegend.Width(), 286);
    EXPECT_EQ(LegendForm->MemoLegend.Height(), 486);

    const QImage image = Screenshot(*LegendForm, "legend");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixelColor(200, 480), QColor(216, 228, 248)) << "the memo in the inactive-caption colour";
}
