// The controls the windows are built from: memo lines and caret positions, owner-drawn grid cells
// and status panels, tree labels and their editing, radio groups, buttons, the open dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QWidget>

#include "FormsFixture.h"
#include "forms/Buttons.h"
#include "forms/ComCtrls.h"
#include "forms/Dialogs.h"
#include "forms/ExtCtrls.h"
#include "forms/Grids.h"
#include "forms/Keys.h"
#include "forms/QtBridge.h"
#include "forms/StdCtrls.h"
#include "forms/Testing.h"
#include "forms/TreeView.h"

using namespace forms;

namespace {

class ControlsTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        app->CreateForm(form);
    }
    QImage Grab(TControl& c) { return c.Widget()->grab().toImage(); }
    TRecordingForm* form = nullptr;
};

}  // namespace

TEST_F(ControlsTest, MemoLinesBreakAtCrLfAndCountFromEmpty) {
    TMemo memo(form, "memo");
    EXPECT_EQ(memo.LineCount(), 0);
    memo.AddLine("");
    EXPECT_EQ(memo.LineCount(), 1) << "an empty line is a line";
    memo.AddLine("two\r\nthree");
    memo.AddLine("caf\xE9");
    EXPECT_EQ(memo.LineCount(), 4);
    EXPECT_EQ(memo.Line(1), "two");
    EXPECT_EQ(memo.Line(3), "caf\xE9");
    memo.SetLine(2, "THREE");
    memo.DeleteLine(0);
    EXPECT_EQ(memo.Text(), "two\r\nTHREE\r\ncaf\xE9");
    memo.DeleteLine(2);
    EXPECT_EQ(memo.Text(), "two\r\nTHREE");
    memo.DeleteLine(5);
    memo.DeleteLine(0);
    memo.DeleteLine(0);
    EXPECT_EQ(memo.LineCount(), 0);
    EXPECT_EQ(memo.Line(0), "");
}

TEST_F(ControlsTest, MemoPositionsCountLineBreaksAsTwo) {
    TMemo memo(form, "memo");
    memo.AddLine("abc");
    memo.AddLine("de");
    memo.AddLine("fghij");
    // Line starts: 0, 5, 9; the end is 14.
    struct Case {
        int set, get;
    };
    for (const Case c : {Case{0, 0}, {2, 2}, {5, 5}, {6, 6}, {9, 9}, {12, 12}, {14, 14}, {100, 14}})
        {
        memo.SetSelStart(c.set);
        EXPECT_EQ(memo.SelStart(), c.get) << c.set;
    }
    memo.SetSelStart(5);
    memo.SetSelLength(1);
    EXPECT_EQ(memo.SelLength(), 1);
}

TEST_F(ControlsTest, WrappedMemoCountsRowsAsShown) {
    TMemo memo(form, "memo");
    memo.SetBounds(0, 0, 120, 200);
    drive::Activate(*form);
    memo.AddLine("short");
    memo.AddLine(std::string(200, 'x'));
    EXPECT_EQ(memo.LineCount(), 2);
    EXPECT_GT(memo.DisplayLineCount(), 2);
    memo.SetWordWrap(false);
    EXPECT_EQ(memo.DisplayLineCount(), 2);
}

TEST_F(ControlsTest, MemoKeepsItsLastRowsAsDeletingTheTopLineWouldLeaveIt) {
    struct Case {
        bool wrap;
        int rows;
    };
    const std::string wide(200, 'x');
    for (const Case c : {Case{false, 3}, {false, 10}, {false, 0}, {false, -4}, {true, 2}, {true, 3}, {true, 40}}) {
        TMemo kept(form, "kept"), deleted(form, "deleted");
        for (TMemo* m : {&kept, &deleted}) {
            m->SetBounds(0, 0, 120, 200);
            m->SetWordWrap(c.wrap);
            for (const std::string& line : {std::string("a"), wide, std::string("b"), std::string("c"), wide})
                m->AddLine(line);
        }
        drive::Activate(*form);
        kept.KeepLastRows(c.rows);
        while (deleted.LineCount() > 0 && deleted.DisplayLineCount() > c.rows) deleted.DeleteLine(0);
        EXPECT_EQ(kept.Text(), deleted.Text()) << c.wrap << " " << c.rows;
        EXPECT_EQ(kept.LineCount(), deleted.LineCount()) << c.wrap << " " << c.rows;
    }
}

TEST_F(ControlsTest, GridDrawsEveryVisibleCellAndFindsCellsUnderThePointer) {
    TStringGrid grid(form, "SGWin1");
    grid.SetBounds(0, 0, 200, 100);
    grid.SetColCount(2);
    grid.SetColWidth(0, 60);
    grid.SetColWidth(1, 100);
    grid.SetDefaultRowHeight(16);
    grid.SetRowCount(1);
    std::vector<std::pair<int, int>> drawn;
    grid.OnDrawCell = [&](TStringGrid* g, int col, int row, const TRect& rect, TGridDrawState) {
        EXPECT_EQ(g, &grid);
        drawn.emplace_back(col, row);
        g->SetRowCount(3);  // as the windows do: the list decides how many rows there are
        g->Canvas().Brush.Color = col == 0 ? clRed : clLime;
        g->Canvas().FillRect(rect);
    };
    drive::Activate(*form);
    const QImage image = Grab(grid);
    EXPECT_EQ(grid.RowCount(), 3);
    EXPECT_FALSE(drawn.empty());
    const QImage again = Grab(grid);
    EXPECT_EQ(drawn.size() % 6, 0u) << "two columns of three rows, drawn whole";

    const TRect cell = grid.CellRect(1, 2);
    EXPECT_EQ(cell, (TRect{61, 34, 161, 50}));
    QWidget* viewport = grid.Widget()->findChild<QWidget*>("qt_scrollarea_viewport");
    ASSERT_NE(viewport, nullptr);
    const QImage cells = viewport->grab().toImage();
    EXPECT_EQ(cells.pixelColor(10, 5), QColor(255, 0, 0));
    EXPECT_EQ(cells.pixelColor(70, 40), QColor(0, 255, 0));

    struct Case {
        int x, y, col, row;
        bool inside;
    };
    for (const Case c : {Case{0, 0, 0, 0, true}, {59, 15, 0, 0, true}, {61, 17, 1, 1, true},
                         {160, 49, 1, 2, true}, {170, 5, -1, -1, false}, {5, 60, -1, -1, false}}) {
        int col = 9, row = 9;
        EXPECT_EQ(grid.MouseToCell(c.x, c.y, col, row), c.inside) << c.x << "," << c.y;
        EXPECT_EQ(col, c.col);
        EXPECT_EQ(row, c.row);
    }

    std::vector<TMouseButton> ups;
    grid.OnMouseUp = [&](TControl*, TMouseButton b, TShiftState, int x, int y) {
        ups.push_back(b);
        EXPECT_EQ(x, 70);
        EXPECT_EQ(y, 20);
    };
    drive::MouseUp(grid, TMouseButton::mbRight, 70, 20);
    drive::MouseUp(grid, TMouseButton::mbLeft, 70, 20);
    EXPECT_EQ(ups, (std::vector<TMouseButton>{TMouseButton::mbRight, TMouseButton::mbLeft}));
}

TEST_F(ControlsTest, GridRepaintAndInvalidateRedrawTheCells) {
    TStringGrid grid(form, "SGWin1");
    grid.SetBounds(0, 0, 200, 100);
    grid.SetColCount(1);
    grid.SetRowCount(2);
    int draws = 0;
    grid.OnDrawCell = [&](TStringGrid*, int, int, const TRect&, TGridDrawState) { ++draws; };
    drive::Activate(*form);
    app->ProcessMessages();
    ASSERT_GT(draws, 0);

    draws = 0;
    grid.Repaint();
    EXPECT_EQ(draws, 2) << "Repaint draws both cells at once";
    draws = 0;
    grid.Invalidate();
    EXPECT_EQ(draws, 0) << "Invalidate only marks them";
    app->ProcessMessages();
    EXPECT_EQ(draws, 2) << "the next paint draws them";
    TControl& control = grid;
    draws = 0;
    control.Repaint();
    EXPECT_EQ(draws, 2) << "also through the control's interface";
}

TEST_F(ControlsTest, StatusPanelsAreDrawnByTheirOwnerSideBySide) {
    TStatusBar bar(form, "SBMonitor");
    bar.SetBounds(0, 0, 300, 24);
    bar.Panels = {{"1", 100, true}, {"2", 100, true}, {"3", 50, true}};
    std::vector<TRect> rects;
    bar.OnDrawPanel = [&](TStatusBar* b, TStatusPanel& panel, const TRect& rect) {
        rects.push_back(rect);
        TBitmap bitmap(rect.Width(), rect.Height());
        bitmap.Canvas().Brush.Color = panel.Text == "1" ? 0xF0CAA6 : clYellow;
        bitmap.Canvas().FillRect({0, 0, rect.Width(), rect.Height()});
        b->Canvas().Draw(rect.Left, rect.Top, bitmap);
    };
    drive::Activate(*form);
    const QImage image = Grab(bar);
    ASSERT_GE(rects.size(), 3u);
    EXPECT_LT(rects[0].Right, rects[1].Left);
    EXPECT_LT(rects[1].Right, rects[2].Left);
    EXPECT_EQ(rects[2].Right, 299) << "the last panel takes the rest";
    EXPECT_EQ(image.pixelColor(50, 12), QColor(166, 202, 240));
    EXPECT_EQ(image.pixelColor(150, 12), QColor(255, 255, 0));
}

TEST_F(ControlsTest, TreeNodesAndLabelEdits) {
    TImageList images;
    TBitmap square(16, 16);
    square.Canvas().Brush.Color = clRed;
    square.Canvas().FillRect({0, 0, 16, 16});
    EXPECT_EQ(images.Add(square), 0);

    TTreeView tree(form, "TreeView1");
    tree.SetBounds(0, 0, 200, 150);
    tree.SetImages(&images);
    std::vector<std::string> changes;
    tree.OnChange = [&](TTreeView*, TTreeNode* node) { changes.push_back(node ? node->Text() : "-"); };
    TTreeNode* root = tree.Items().Add(nullptr, "OPERATIONALs");
    TTreeNode* zem = tree.Items().AddChild(root, "ZEM");
    TTreeNode* n21 = tree.Items().AddChild(zem, "21 - Office");
    tree.Items().Add(zem, "40");
    zem->SetImageIndex(0);
    tree.FullExpand();
    EXPECT_EQ(tree.Items().Count(), 4);
    EXPECT_EQ(root->Count(), 2);
    EXPECT_EQ(root->Item(1)->Text(), "40");
    EXPECT_EQ(n21->Parent(), zem);
    EXPECT_EQ(tree.Items().GetFirstNode(), root);
    EXPECT_TRUE(zem->Expanded());

    drive::Activate(*form);
    tree.SetFocus();
    tree.SetSelected(zem);
    tree.OnCollapsing = [](TTreeView*, TTreeNode* node, bool& allow) { allow = node->Text() != "ZEM"; };
    drive::PressKey(*form, VK_LEFT);
    EXPECT_TRUE(zem->Expanded()) << "collapsing refused";
    tree.SetSelected(root);
    drive::PressKey(*form, VK_LEFT);
    EXPECT_FALSE(root->Expanded());
    root->Expand(true);

    // An edit: the handler sees the committed text and decides what the label shows.
    TButton defaultButton(form, "default");
    int defaultClicks = 0;
    defaultButton.SetDefault(true);
    defaultButton.OnClick = [&](TControl*) { ++defaultClicks; };
    std::vector<std::string> committed;
    tree.OnEditing = [&](TTreeView*, TTreeNode* node, bool& allow) { allow = node != root; };
    tree.OnEdited = [&](TTreeView*, TTreeNode* node, std::string& text) {
        committed.push_back(text);
        if (text.rfind("21", 0) != 0) text = node->Text();  // refused: the label stays
    };
    tree.SetSelected(n21);
    tree.EditNode(n21);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->setText(ToQString("21 - K\xFC" "che"));
    drive::PressKey(*form, VK_RETURN);
    // The editor closes at the next turn of the loop, and hands its text on at the one after.
    app->ProcessMessages();
    app->ProcessMessages();
    EXPECT_EQ(defaultClicks, 0) << "Enter ends the edit, not the form";
    EXPECT_EQ(n21->Text(), "21 - K\xFC" "che");

    tree.EditNode(n21);
    editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->setText("22 - Kitchen");
    drive::PressKey(*form, VK_RETURN);
    app->ProcessMessages();
    app->ProcessMessages();
    EXPECT_EQ(n21->Text(), "21 - K\xFC" "che");
    EXPECT_EQ(committed, (std::vector<std::string>{"21 - K\xFC" "che", "22 - Kitchen"}));

    tree.EditNode(root);
    EXPECT_EQ(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr) << "the root refuses edits";

    changes.clear();
    tree.Items().Clear();
    EXPECT_EQ(tree.Items().Count(), 0);
    EXPECT_EQ(tree.Selected(), nullptr);
    for (const std::string& c : changes) EXPECT_EQ(c, "-") << "a cleared tree names no node";
}

TEST_F(ControlsTest, RadioGroupRunsOnClickOnlyForTheUsersPick) {
    TRadioGroup group(form, "rdbSpeed");
    group.SetItems({"125Kb", "62.5Kb"});
    int clicks = 0;
    group.OnClick = [&](TControl* sender) {
        EXPECT_EQ(sender, &group);
        ++clicks;
    };
    EXPECT_EQ(group.ItemIndex(), -1);
    group.SetItemIndex(1);
    EXPECT_EQ(group.ItemIndex(), 1);
    EXPECT_EQ(clicks, 0);
    group.ClickItem(0);
    EXPECT_EQ(group.ItemIndex(), 0);
    EXPECT_EQ(clicks, 1);
    group.SetEnabled(false);
    group.ClickItem(1);
    EXPECT_EQ(group.ItemIndex(), 0);
    EXPECT_EQ(clicks, 1);
    group.SetItemIndex(-1);
    EXPECT_EQ(group.ItemIndex(), -1);
}

TEST_F(ControlsTest, ButtonsReportTheirSenderWithItsTag) {
    TSpeedButton speed(form, "SBLog");
    TButton push(form, "BMenu");
    speed.Tag = 5;
    push.Tag = 99;
    std::vector<int> tags;
    speed.OnClick = push.OnClick = [&](TControl* sender) { tags.push_back(sender->Tag); };
    speed.Click();
    push.Click();
    push.SetEnabled(false);
    push.Click();
    EXPECT_EQ(tags, (std::vector<int>{5, 99}));
}

TEST_F(ControlsTest, LabelsShowCodePageTextsAndFitThem) {
    TLabel label(form, "LState");
    label.SetCaption("Temp. 21\xB0");
    EXPECT_EQ(label.Caption(), "Temp. 21\xB0");
    const int width = label.Width();
    label.SetCaption("Temp. 21\xB0 and more");
    EXPECT_GT(label.Width(), width);
    label.SetAutoSize(false);
    label.SetWidth(10);
    label.SetCaption("long long long");
    EXPECT_EQ(label.Width(), 10);
}

TEST_F(ControlsTest, OpenDialogGivesTheChosenPathInTheSystemsSpelling) {
    TOpenDialog dialog;
    dialog.Filter = "hexadecimal|*.hex";
    dialog.InitialDir = ".\\IN";
    std::string seenDir;
    auto previous = SetOpenDialogHandler([&](const TOpenDialog& d) -> std::optional<std::string> {
        seenDir = d.InitialDir;
        return std::string("/home/user/IN/app.hex");
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, "\\home\\user\\IN\\app.hex");
    EXPECT_EQ(seenDir, ".\\IN");
    SetOpenDialogHandler([](const TOpenDialog&) { return std::nullopt; });
    EXPECT_FALSE(dialog.Execute());
    SetOpenDialogHandler(previous);
}

TEST(Bitmaps, TextAndFillsLandOnThePicture) {
    static int argc = 1;
    static char name[] = "forms_tests";
    static char* argv[] = {name, nullptr};
    TApplication app(argc, argv);
    TBitmap bitmap(40, 20);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = 0xFFD0D0;
    canvas.FillRect({0, 0, 40, 20});
    canvas.Font.Name = "Courier New";
    canvas.Font.Height = -13;
    canvas.Font.Color = clBlack;
    EXPECT_GT(canvas.TextWidth("WW"), canvas.TextWidth("W"));
    EXPECT_GE(canvas.TextHeight("W"), 13);
    canvas.TextOut(2, 2, "\xDB\xDB\xDB");
    const QImage& image = bitmap.Image();
    EXPECT_EQ(image.pixelColor(39, 19), QColor(208, 208, 255));
    bool dark = false;
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 20; ++y) dark |= image.pixelColor(x, y).lightness() < 100;
    EXPECT_TRUE(dark) << "the text was drawn";
}
