// The nodes tree, driven as the user drives it, on a temporary installation: the trees by network
// state and group, the value memo with its refresh and scrolling, description edits rewriting the
// description file, the way back to the menu; then the shipped library on the simulated network
// with nodes coming and going, and the whole program from F4 to F10.
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QTimer>
#include <chrono>
#include <clocale>
#include <map>
#include <thread>

#include "AppStrings.h"
#include "Fancoil.h"
#include "Scheduler.h"
#include "UIFile.h"
#include "forms/Keys.h"
#include "forms/Testing.h"
#include "rtl/Clock.h"
#include "windows_common/InstallFixture.h"

using namespace forms;

namespace {

// A row of the parameter-row file with a wide range.
std::string Row(const std::string& name, int decimals, const std::string& type, int address) {
    return UiRow(name, decimals, type, -1000, 1000, address);
}

// The tree as text: label/image, children in braces.
std::string Dump(TTreeNode* node) {
    std::string s = node->Text() + "/" + std::to_string(node->ImageIndex());
    if (node->Count() == 0) return s;
    s += "{";
    for (int i = 0; i < node->Count(); ++i) s += (i ? "," : "") + Dump(node->Item(i));
    return s + "}";
}
std::string Dump(TTreeView& tree) {
    TTreeNode* root = tree.Items().GetFirstNode();
    return root ? Dump(root) : "";
}

TTreeNode* Find(TTreeNode* node, const std::string& label) {
    if (node->Text() == label) return node;
    for (int i = 0; i < node->Count(); ++i)
        if (TTreeNode* found = Find(node->Item(i), label)) return found;
    return nullptr;
}
TTreeNode* Find(TTreeView& tree, const std::string& label) {
    TTreeNode* root = tree.Items().GetFirstNode();
    return root ? Find(root, label) : nullptr;
}

std::vector<std::string> MemoLines(TMemo& memo) {
    std::vector<std::string> lines;
    for (int i = 0; i < memo.LineCount(); ++i) lines.push_back(memo.Line(i));
    return lines;
}

// The objects the tree works with, the menu and the tree window. The scheduler is never resumed:
// the test runs its passes on a clock it moves, and files values into the model itself unless it
// runs the library.
class TreeTest : public InstallTest {
protected:
    void SetUp() override {
        InstallTest::SetUp();
        // The row file before the lists: the repaint list then holds the windows' entries only.
        UIFile = std::make_unique<TUIFile>();
        UIFile->SetFile("UI.csv");
        ASSERT_TRUE(UIFile->Load());
        MakeWindowObjects();
        FanStr = std::make_unique<TAppStrings>("USR\\FanStr.cfg");
        ASSERT_TRUE(FanStr->Load());
        FancoilData = std::make_unique<TFancoil>(*FanStr);
        app->CreateForm(MenuForm);
        app->CreateForm(TreeUIForm);
        tree = TreeUIForm;
    }

    // Node states as the controller's bitmaps bring them; the controller is marked changed.
    void SetNode(int node, bool present, bool operational, int master) {
        this->present[node] = present;
        this->operational[node] = operational;
        FancoilData->Store(node, 14, int16_t(master), TFancoil::kTypeInteger);
        for (int k = 0; k < 7; ++k) {
            uint16_t p = 0, o = 0;
            for (int b = 0; b < 16 && 21 + 16 * k + b < 128; ++b) {
                p |= uint16_t(this->present[21 + 16 * k + b]) << b;
                o |= uint16_t(this->operational[21 + 16 * k + b]) << b;
            }
            FancoilData->Store(127, 5 + k, int16_t(p), TFancoil::kTypeInteger);
            FancoilData->Store(127, 12 + k, int16_t(o), TFancoil::kTypeInteger);
        }
        FancoilData->SetChanged(127);
    }
    void Operational(std::initializer_list<std::pair<int, int>> nodeMaster) {
        for (auto [node, master] : nodeMaster) SetNode(node, true, true, master);
    }
    void Show() {
        drive::Activate(*tree);
        app->ProcessMessages();
    }
    // Moves the clock and runs a scheduler pass; its refresh reaches the windows.
    void Tick(uint32_t ms = 101) {
        clock.Advance(ms);
        Scheduler->Pass();
        app->ProcessMessages();
    }
    void Select(const std::string& label) {
        TTreeNode* node = Find(tree->TreeView1, label);
        ASSERT_NE(node, nullptr) << label;
        tree->TreeView1.SetSelected(node);
    }
    // Edits a label as the user does: the editor opens, takes the text, Enter commits it.
    void EditLabel(const std::string& label, const std::string& typed) {
        TTreeNode* node = Find(tree->TreeView1, label);
        ASSERT_NE(node, nullptr) << label;
        tree->TreeView1.SetFocus();
        tree->TreeView1.EditNode(node);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        ASSERT_NE(editor, nullptr);
        editor->setText(QString::fromLatin1(typed.c_str()));
        drive::PressKey(*tree, VK_RETURN);
        app->ProcessMessages();
        app->ProcessMessages();
    }
    // The entries of the description file as the program reads them back.
    std::map<std::string, std::string> DescriptionFile() {
        TAppStrings file("USR\\FanStr.cfg");
        std::map<std::string, std::string> entries;
        if (!file.Load()) return entries;
        for (const auto& e : file.Entries()) entries[e.Key] = e.Text[0];
        return entries;
    }

    rtl::ManualClock clock{50'000};
    rtl::ScopedClock scopedClock{clock};
    TTreeUIForm* tree = nullptr;
    bool present[128] = {};
    bool operational[128] = {};
};

struct NodeSetup {
    int node;
    bool present, operational;
    int master;
};

struct TreeCase {
    const char* name;
    std::vector<NodeSetup> nodes;
    const char* operTree;
    const char* preOperTree;
};

class TreeShapeTest : public TreeTest, public ::testing::WithParamInterface<TreeCase> {};

}  // namespace

TEST_P(TreeShapeTest, NodesHangWhereTheirStateAndMasterPutThem) {
    for (const NodeSetup& n : GetParam().nodes) SetNode(n.node, n.present, n.operational, n.master);
    Show();
    EXPECT_EQ(Dump(tree->TreeView1), GetParam().operTree);
    EXPECT_EQ(Dump(tree->TreeView2), GetParam().preOperTree);
    EXPECT_TRUE(tree->TreeView1.Items().GetFirstNode()->Expanded());
}

INSTANTIATE_TEST_SUITE_P(
    States, TreeShapeTest,
    ::testing::Values(
        TreeCase{"NoController",
                 {{40, true, true, 40}, {42, true, true, 40}, {41, true, true, 40}, {50, true, true, 50},
                  {45, true, false, 40}, {44, true, false, 0}},
                 "OPERATIONALs/0{40/4{41/2,42/2},50/4}", "PRE-OPERs/0{44/1,45/1}"},
        TreeCase{"ControllerWithoutMembers",
                 {{127, true, true, 0}, {40, true, true, 40}, {50, true, true, 50}, {51, true, true, 50}},
                 "OPERATIONALs/0{ZEM/5{40/4,50/4{51/2}}}", "PRE-OPERs/0"},
        TreeCase{"ControllerMembersFirst",
                 {{127, true, true, 0}, {45, true, true, 127}, {42, true, true, 127}, {40, true, true, 40},
                  {41, true, true, 40}, {21, true, true, 21}},
                 "OPERATIONALs/0{ZEM/5{42/2,45/2,21 - Reception/4,40/4{41/2}}}", "PRE-OPERs/0"},
        TreeCase{"ControllerPreOperational",
                 {{127, true, false, 0}, {45, true, true, 127}, {40, true, true, 40}},
                 "OPERATIONALs/0{40/4}", "PRE-OPERs/0{127/1}"},
        TreeCase{"OrphansInNeitherTree",
                 {{127, true, true, 0}, {50, true, true, 51}, {51, true, false, 51}, {52, true, true, 60},
                  {53, true, true, 54}, {54, true, true, 55}, {55, true, true, 55}, {60, false, false, 60}},
                 "OPERATIONALs/0{ZEM/5{55/4{54/2}}}", "PRE-OPERs/0{51/1}"},
        TreeCase{"NotPresentNowhere", {{40, false, true, 40}, {41, false, false, 41}}, "OPERATIONALs/0",
                 "PRE-OPERs/0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TreeTest, CreationRegistersTheTitleAndTheRefreshOnly) {
    WriteText(base / "USR" / "AppStr.cfg", "\"APPLICATION_TITLE\" \"PLANT\" \"P\" \"P\" \"P\"\r\n");
    ASSERT_TRUE((AppStr = std::make_unique<TAppStrings>("USR\\AppStr.cfg"))->Load());
    TTreeUIForm::RegisterStrings();
    EXPECT_EQ(AppStr->GetString("TREEFORM_TITLE"), "NODES TREE");
    EXPECT_NE(ReadText(base / "USR" / "AppStr.cfg").find("\"TREEFORM_TITLE\""), std::string::npos);
    Show();
    EXPECT_EQ(tree->Caption(), "PLANT - NODES TREE");
    ASSERT_EQ(RefreshList->size(), 2u);
    EXPECT_EQ((*RefreshList)[1].Data, tree);
    EXPECT_EQ(InvalidateList->size(), 1u) << "only the menu's repaint entry";
}

TEST_F(TreeTest, F10AndTheMenuButtonGoBackToTheMenuFromEveryControl) {
    for (TControl* focus : std::initializer_list<TControl*>{&tree->TreeView1, &tree->TreeView2, &tree->Memo1,
                                                           &tree->BMenu}) {
        Show();
        focus->SetFocus();
        drive::PressKey(*tree, VK_F2);
        drive::PressKey(*tree, VK_F4);
        EXPECT_TRUE(tree->Visible()) << focus->Name;
        drive::PressKey(*tree, VK_F10);
        EXPECT_FALSE(tree->Visible()) << focus->Name;
        EXPECT_TRUE(MenuForm->Visible()) << focus->Name;
    }
    Show();
    tree->BMenu.Click();
    EXPECT_FALSE(tree->Visible());
    EXPECT_TRUE(MenuForm->Visible());
    EXPECT_EQ(tree->BMenu.Tag, 99);
}

TEST_F(TreeTest, OperationalTreeRefusesCollapsingThePreOperationalOneDoesNot) {
    Operational({{127, 0}, {40, 40}, {41, 40}});
    SetNode(45, true, false, 45);
    Show();
    tree->TreeView1.SetFocus();
    Select("ZEM");
    drive::PressKey(*tree, VK_LEFT);
    EXPECT_TRUE(Find(tree->TreeView1, "ZEM")->Expanded());
    tree->TreeView2.SetFocus();
    tree->TreeView2.SetSelected(tree->TreeView2.Items().GetFirstNode());
    drive::PressKey(*tree, VK_LEFT);
    EXPECT_FALSE(tree->TreeView2.Items().GetFirstNode()->Expanded());
}

TEST_F(TreeTest, MemoListsTheRowsOfTheSelectedNode) {
    WriteText(base / "USR" / "UI.csv",
              "[PARAMETRI]\r\n" + Row("TEMP", 1, "A", 4) + Row("NEG", 0, "A", 5) + Row("SMALL", 2, "A", 6) +
                  Row("SETPOINT", 1, "I", 1) + Row("SIGNED", 0, "I", 2) + Row("A VERY LONG NAME X", 0, "A", 7) +
                  Row("BLANKTYPE", 0, "", 1) + Row("VERSION", 0, "Integer", 16) + "[ZEM]\r\n" +
                  Row("OUTSIDE", 1, "A", 1) + Row("SEASON", 0, "I", 1));
    UIFile->SetFile("UI.csv");
    ASSERT_TRUE(UIFile->Load());
    Operational({{127, 0}, {40, 40}});
    for (auto [index, value] : {std::pair{4, 215}, {5, -5}, {6, -7}, {7, 1234}})
        FancoilData->Store(40, index, int16_t(value), TFancoil::kTypeAnalog);
    FancoilData->Store(40, 1, 21, TFancoil::kTypeInteger);
    FancoilData->Store(40, 2, int16_t(0xFFFD), TFancoil::kTypeInteger);
    FancoilData->Store(40, 16, 0x1603, TFancoil::kTypeInteger);
    FancoilData->Store(127, 1, 85, TFancoil::kTypeAnalog);
    FancoilData->Store(127, 1, 1, TFancoil::kTypeInteger);
    Show();
    const char dot = *std::localeconv()->decimal_point;
    auto decimal = [dot](std::string text) {
        for (char& c : text)
            if (c == '.') c = dot;
        return text;
    };

    Select("40");
    EXPECT_EQ(tree->SelectedNode, 40);
    EXPECT_EQ(MemoLines(tree->Memo1),
              (std::vector<std::string>{"NODE_ID......40", "TEMP........." + decimal("21.5"), "NEG..........-5",
                                        "SMALL........" + decimal("-0.07"), "SETPOINT.....21", "SIGNED.......-3",
                                        "A VERY LONG N1234", "BLANKTYPE....", "VERSION......5635"}));
    Select("ZEM");
    EXPECT_EQ(MemoLines(tree->Memo1),
              (std::vector<std::string>{"NODE_ID......127", "OUTSIDE......" + decimal("8.5"), "SEASON.......1"}));
    Select("OPERATIONALs");
    EXPECT_EQ(MemoLines(tree->Memo1), (std::vector<std::string>{"NODE_ID......0"}));
    EXPECT_EQ(tree->SelectedNode, 0);
    EXPECT_TRUE(boxes.empty()) << "the root is no invalid value";
    EXPECT_EQ(tree->Memo1.SelStart(), 0);

    // A node that left: its rows read 0.
    Select("40");
    SetNode(40, false, false, 40);
    EXPECT_EQ(tree->Memo1.Line(1), "TEMP........." + decimal("21.5"));
    tree->RefreshNodeValues(40);
    EXPECT_EQ(tree->Memo1.Line(1), "TEMP........." + decimal("0.0"));
    EXPECT_EQ(tree->Memo1.Line(4), "SETPOINT.....0");
}

TEST_F(TreeTest, RefreshWorksOnlyWhileTheTreeIsInFront) {
    Operational({{127, 0}, {40, 40}});
    Show();
    Select("40");
    const std::string shownTime = tree->TimeShown;
    Tick();
    EXPECT_NE(tree->TimeShown, shownTime);
    EXPECT_EQ(tree->TimeShown, TimeText.Get());

    // Another window in front: no refresh work at all; the marks wait for it.
    drive::Activate(*MenuForm);
    Operational({{41, 40}});
    FancoilData->Store(40, 1, 25, TFancoil::kTypeInteger);
    FancoilData->SetChanged(40);
    const std::string time = tree->TimeShown;
    Tick(5000);
    EXPECT_EQ(tree->TimeShown, time);
    EXPECT_EQ(Dump(tree->TreeView1), "OPERATIONALs/0{ZEM/5{40/4}}");
    EXPECT_EQ(tree->Memo1.Line(1), "SETPOINT.....0") << "rows of the dist file: SETPOINT first";

    // In front again: the activation rebuilds the trees, the next tick takes the marks.
    drive::Activate(*tree);
    EXPECT_EQ(Dump(tree->TreeView1), "OPERATIONALs/0{ZEM/5{40/4{41/2}}}");
    EXPECT_EQ(tree->SelectedNode, 40) << "the selection survives leaving and coming back";
    Tick();
    EXPECT_EQ(tree->Memo1.Line(1), "SETPOINT.....25");
    EXPECT_EQ(FancoilData->TakeChanged(40), 0);
    EXPECT_EQ(FancoilData->TakeChanged(127), 0);
}

TEST_F(TreeTest, ChangedSelectedNodeRewritesOnlyTheValueColumnInPlace) {
    Operational({{127, 0}, {21, 21}, {40, 21}});
    Show();
    Select("21 - Reception");
    const int lines = tree->Memo1.LineCount();
    ASSERT_EQ(lines, 1 + int(UIFile->ParamRows.Count()));
    tree->Memo1.SetLine(1, "MY OWN LABELxyz");
    FancoilData->Store(21, 1, 23, TFancoil::kTypeInteger);
    FancoilData->SetChanged(40);
    Tick();
    EXPECT_EQ(tree->Memo1.Line(1), "MY OWN LABELxyz") << "another node's change does not touch it";

    FancoilData->SetChanged(21);
    Tick();
    EXPECT_EQ(tree->Memo1.Line(1), "MY OWN LABELx23");
    EXPECT_EQ(tree->Memo1.LineCount(), lines);
    EXPECT_EQ(tree->Memo1.SelStart(), tree->MemoCaret);
    EXPECT_EQ(tree->Memo1.SelLength(), 1);

    // The controller changes: both trees are rebuilt, the node stays selected, the memo keeps its
    // lines.
    SetNode(45, true, false, 45);
    Tick();
    EXPECT_EQ(Dump(tree->TreeView2), "PRE-OPERs/0{45/1}");
    EXPECT_EQ(tree->SelectedNode, 21);
    EXPECT_EQ(tree->Memo1.Line(1), "MY OWN LABELx23");
    ASSERT_NE(tree->TreeView1.Selected(), nullptr);
    EXPECT_EQ(tree->TreeView1.Selected()->Text(), "21 - Reception") << "the memo's node stays highlighted";

    // The selected node leaves the operational tree.
    SetNode(21, true, false, 21);
    Tick();
    EXPECT_EQ(tree->SelectedNode, 0);
    EXPECT_EQ(MemoLines(tree->Memo1), (std::vector<std::string>{"NODE_ID......0"}));
    EXPECT_EQ(tree->TreeView1.Selected()->Text(), "OPERATIONALs");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(TreeTest, NewMasterShowsAtTheNextRebuildOnly) {
    Operational({{40, 40}, {41, 40}, {50, 50}});
    Show();
    Tick();  // takes the controller's mark
    FancoilData->Store(41, 14, 50, TFancoil::kTypeInteger);
    FancoilData->SetChanged(41);
    Tick();
    EXPECT_EQ(Dump(tree->TreeView1), "OPERATIONALs/0{40/4{41/2},50/4}");
    drive::Activate(*MenuForm);
    drive::Activate(*tree);
    EXPECT_EQ(Dump(tree->TreeView1), "OPERATIONALs/0{40/4,50/4{41/2}}");
}

TEST_F(TreeTest, SelectedControllerIsRebuiltAndRefreshedOnTheSameTick) {
    Operational({{127, 0}});
    Show();
    Select("ZEM");
    ASSERT_EQ(tree->Memo1.Line(1).substr(0, 13), "TEMP. ESTERNA");
    FancoilData->Store(127, 1, 123, TFancoil::kTypeAnalog);
    Operational({{40, 40}});
    Tick();
    EXPECT_EQ(Dump(tree->TreeView1), "OPERATIONALs/0{ZEM/5{40/4}}");
    const char dot = *std::localeconv()->decimal_point;
    EXPECT_EQ(tree->Memo1.Line(1), std::string("TEMP. ESTERNA12") + dot + "3");
    EXPECT_EQ(tree->SelectedNode, 127);
}

TEST_F(TreeTest, ALabelNamingNoNodeIsAnInvalidSelection) {
    Operational({{40, 40}, {41, 40}});
    Show();
    Find(tree->TreeView1, "41")->SetText("forty-one");
    Select("forty-one");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "VALORE NON VALIDO!");
    EXPECT_EQ(boxes[0].caption, "ATTENZIONE");
    EXPECT_EQ(tree->SelectedNode, 0);
    EXPECT_EQ(MemoLines(tree->Memo1), (std::vector<std::string>{"NODE_ID......0"}));
}

TEST_F(TreeTest, ScrollingMovesTheMemoCaretByLines) {
    Operational({{40, 40}});
    Show();
    ASSERT_EQ(tree->MemoLineCount, 25) << "411 pixels of 16-pixel lines";
    Select("40");
    const int lines = tree->Memo1.LineCount();
    ASSERT_EQ(lines, 34);
    auto start = [&](int line) {  // character position of a line's start, plus 10
        int sum = 10;
        for (int i = 0; i < line; ++i) sum += int(tree->Memo1.Line(i).size()) + 2;
        return sum;
    };
    tree->Memo1.SetFocus();
    tree->ScrollMemo1.SetPosition(100);  // n = 9: down, the caret at the last line shown
    EXPECT_EQ(tree->MemoCaret, start(9));
    EXPECT_EQ(tree->Memo1.SelStart(), start(9 + 25 - 1));
    EXPECT_TRUE(tree->TreeView1.Focused());
    EXPECT_EQ(tree->SelectedNode, 40) << "the focus moving to the tree selects nothing";
    tree->ScrollMemo1.SetPosition(40);  // n = 4: up, the caret at the first line shown
    EXPECT_EQ(tree->Memo1.SelStart(), start(4));
    EXPECT_EQ(tree->MemoCaret, start(4));
    tree->ScrollMemo1.SetPosition(60);  // n = 5 (5.4 + 0.5)
    EXPECT_EQ(tree->Memo1.SelStart(), start(5 + 25 - 1));
    FancoilData->SetChanged(40);
    Tick();
    EXPECT_EQ(tree->Memo1.SelStart(), start(5)) << "a refresh puts the caret back at the top line";

    // Fewer lines than fit: the caret goes to 10 moving up, to the end moving down.
    Select("OPERATIONALs");
    EXPECT_EQ(tree->ScrollMemo1.Position(), 0);
    tree->ScrollMemo1.SetPosition(100);
    EXPECT_EQ(tree->Memo1.SelStart(), int(tree->Memo1.Text().size()));
    tree->ScrollMemo1.SetPosition(50);
    EXPECT_EQ(tree->Memo1.SelStart(), 10);
}

TEST_F(TreeTest, ScrollingAfterARebuildKeepsTheSelectedNode) {
    Operational({{127, 0}, {40, 40}});
    Show();
    Select("40");
    tree->Memo1.SetFocus();
    Operational({{41, 40}});
    Tick();
    ASSERT_EQ(Dump(tree->TreeView1), "OPERATIONALs/0{ZEM/5{40/4{41/2}}}");
    tree->ScrollMemo1.SetPosition(30);
    EXPECT_TRUE(tree->TreeView1.Focused());
    EXPECT_EQ(tree->SelectedNode, 40);
    EXPECT_EQ(tree->Memo1.Line(0), "NODE_ID......40");
}

TEST_F(TreeTest, ResizingGivesTheListsTheHeightDownToTheStatusBar) {
    Show();
    for (TControl* c : std::initializer_list<TControl*>{&tree->Memo1, &tree->ScrollMemo1, &tree->TreeView1,
                                                       &tree->TreeView2})
        EXPECT_EQ(c->Height(), 411) << c->Name;
    tree->SetClientSize(tree->ClientWidth() + 40, tree->ClientHeight() + 100);
    app->ProcessMessages();
    EXPECT_EQ(tree->SBMonitor.Top(), 571);
    EXPECT_EQ(tree->Memo1.Height(), 511);
    EXPECT_EQ(tree->TreeView2.Height(), 511);
    EXPECT_EQ(tree->MemoLineCount, 31);
}

struct EditCase {
    const char* name;
    const char* label;
    const char* typed;
    bool refused;
    const char* labelAfter;
    std::map<std::string, std::string> changes;  // key -> description ("" removes it)
};

class TreeEditTest : public TreeTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(TreeEditTest, EditedLabelRewritesTheDescriptionFile) {
    const EditCase& c = GetParam();
    Operational({{127, 0}, {21, 21}, {22, 21}, {40, 21}});
    Show();
    std::map<std::string, std::string> expected = DescriptionFile();
    ASSERT_EQ(expected.size(), 13u);
    for (const auto& [key, text] : c.changes) {
        if (text.empty()) expected.erase(key);
        else expected[key] = text;
    }
    const std::string fileBefore = ReadText(base / "USR" / "FanStr.cfg");

    EditLabel(c.label, c.typed);
    if (c.refused) {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "VALORE NON ACCETTABILE!");
        EXPECT_EQ(boxes[0].caption, "ATTENZIONE");
    } else {
        EXPECT_TRUE(boxes.empty()) << boxes[0].text;
    }
    EXPECT_NE(Find(tree->TreeView1, c.labelAfter), nullptr) << Dump(tree->TreeView1);
    EXPECT_EQ(tree->EditNode, 0);
    EXPECT_EQ(DescriptionFile(), expected);
    EXPECT_FALSE(fs::exists(base / "USR" / "FanStr.cfg.bak"));
    const std::string file = ReadText(base / "USR" / "FanStr.cfg");
    EXPECT_NE(file, fileBefore) << "rewritten, comments gone, whatever the edit";
    EXPECT_EQ(file.find(';'), std::string::npos);
    EXPECT_EQ(file.find("\"FC0\""), std::string::npos);
    EXPECT_LT(file.find("\"FC22\""), file.find("\"FC127\"")) << "node order";

    // The next rebuild gives the label its standard form; a new start reads the same.
    drive::Activate(*MenuForm);
    drive::Activate(*tree);
    FanStr = std::make_unique<TAppStrings>("USR\\FanStr.cfg");
    ASSERT_TRUE(FanStr->Load());
    TFancoil reread(*FanStr);
    for (int n : {21, 22, 40, 127}) EXPECT_EQ(reread.GetDescription(n), FancoilData->GetDescription(n)) << n;
}

INSTANTIATE_TEST_SUITE_P(
    Edits, TreeEditTest,
    ::testing::Values(
        EditCase{"BlanksAround", "21 - Reception", "21 -  Kitchen ", false, "21 -  Kitchen ", {{"FC21", "Kitchen"}}},
        EditCase{"NumberAlone", "21 - Reception", "21", false, "21", {{"FC21", ""}}},
        EditCase{"NewDescription", "40", "40 - Sala \"B\", lato", false, "40 - Sala \"B\", lato",
                 {{"FC40", "Sala \"B\", lato"}}},
        EditCase{"AnotherNode", "21 - Reception", "22 - Kitchen", true, "21 - Reception", {}},
        EditCase{"QuestionMark", "21 - Reception", "21 - Sala ?", true, "21 - Reception", {}},
        EditCase{"NoNumber", "22 - Ufficio 1", "Kitchen", true, "22 - Ufficio 1", {}},
        EditCase{"Root", "OPERATIONALs", "OPERATIONALs", true, "OPERATIONALs", {}},
        EditCase{"ControllerWithDescription", "ZEM", "ZEM - Supervisor", true, "ZEM", {}},
        EditCase{"ControllerUnchangedKeepsItsDescription", "ZEM", "ZEM", false, "ZEM", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TreeTest, FailedRewriteKeepsTheDescriptionForThisRun) {
    Operational({{21, 21}});
    Show();
    fs::remove(base / "USR" / "FanStr.cfg");
    EditLabel("21 - Reception", "21 - Kitchen");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "SALVATAGGIO DESCRIZIONE FAN COIL FALLITO!");
    EXPECT_EQ(boxes[0].caption, "ATTENZIONE");
    EXPECT_EQ(FancoilData->GetDescription(21), "Kitchen");
    EXPECT_NE(Find(tree->TreeView1, "21 - Kitchen"), nullptr);
    EXPECT_FALSE(fs::exists(base / "USR" / "FanStr.cfg.bak"));
}

// ---- the shipped library on the simulated network

class TreeNetworkTest : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        std::string error;
        net = sim::Network::Load((fs::path(TELVOX_DIST_SOURCE) / "sim" / "network.ini").string(), &error);
        ASSERT_NE(net, nullptr) << error;
        net->SetTimeMode(sim::TimeMode::Manual);
        sim::Network::Install(net);
        ASSERT_EQ(_CreateCANThread(".//Morvand"), 0);
        // The library's database outlives its instance: the fresh model reads it whole.
        for (int n = 21; n < 127; ++n) _ForceNodeChanged(uint8_t(n), 0x33);
        _ForceNodeChanged(127, 0x8C);
    }
    // Bus and clock move together in 100 ms steps; the poller and the refresh follow each.
    void Run(int ms) {
        for (int t = 0; t < ms; t += 100) {
            net->Advance(100 * sim::kMs);
            FancoilData->Poll();
            Tick(100);
        }
    }
    // Runs until the tree shows what is expected. The library's supervision runs on its own thread,
    // which a loaded machine may keep waiting: the bound is real time, not bus time.
    bool RunUntil(const std::function<bool()>& shown) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!shown() && std::chrono::steady_clock::now() < end) {
            Run(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return shown();
    }
};

TEST_F(TreeNetworkTest, NodesComeAndGoWithTheirHeartbeats) {
    Show();
    const std::string all =
        "OPERATIONALs/0{ZEM/5{21 - Reception/4{22 - Ufficio 1/2,23 - Ufficio 2/2,24 - Ufficio 3/2,"
        "25 - Sala attesa/2,26 - Corridoio PT/2},30 - Sala riunioni/4{31 - Direzione/2,32 - Segreteria/2,"
        "33 - Ufficio 4/2,34 - Archivio/2}}}";
    ASSERT_TRUE(RunUntil([&] { return Dump(tree->TreeView1) == all; })) << Dump(tree->TreeView1);
    EXPECT_EQ(Dump(tree->TreeView2), "PRE-OPERs/0{35/1}") << "numbers alone";

    Select("21 - Reception");
    ASSERT_TRUE(RunUntil([&] { return tree->Memo1.Line(1) == "SETPOINT.....21"; })) << tree->Memo1.Line(1);
    net->ChangeValues(21, [](sim::NodeValues& v) { v.setPoint = 24; });
    EXPECT_TRUE(RunUntil([&] { return tree->Memo1.Line(1) == "SETPOINT.....24"; })) << tree->Memo1.Line(1);

    // A device falls silent: gone after the heartbeat timeout; back with its heartbeats.
    sim::NodeFaults silent;
    silent.heartbeatStopped = true;
    net->SetFaults(22, silent);
    EXPECT_TRUE(RunUntil([&] { return !Find(tree->TreeView1, "22 - Ufficio 1"); })) << Dump(tree->TreeView1);
    EXPECT_EQ(tree->SelectedNode, 21);
    net->SetFaults(22, sim::NodeFaults{});
    EXPECT_TRUE(RunUntil([&] { return Dump(tree->TreeView1) == all; })) << Dump(tree->TreeView1);

    // The controller falls silent: the groups hang under the root.
    net->SetFaults(127, silent);
    EXPECT_TRUE(RunUntil([&] { return !Find(tree->TreeView1, "ZEM"); })) << Dump(tree->TreeView1);
    EXPECT_EQ(Dump(tree->TreeView1).rfind("OPERATIONALs/0{21 - Reception/4{", 0), 0u) << Dump(tree->TreeView1);
    EXPECT_EQ(tree->SelectedNode, 21);
    EXPECT_TRUE(boxes.empty());

    const QImage image = Screenshot(*tree, "tree");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixelColor(tree->SBMonitor.Left() + 4, tree->SBMonitor.Top() + 8), QColor(208, 208, 255));
    EXPECT_EQ(image.pixelColor(tree->TreeView2.Left() + 50, tree->TreeView2.Top() + 300), QColor(255, 255, 255));
}

// ---- the program: start-up, F4 from the menu, the refreshed tree, F10 back, F10 to the end

using ProgramTest = InstallTest;

TEST_F(ProgramTest, F4OpensTheRefreshedTreeAndF10GoesBack) {
    const char* argv[] = {"telvox"};
    ScheduleStartup(1, argv);
    ASSERT_TRUE(boxes.empty());
    int step = 0;
    EXPECT_EQ(RunProgram([&] {
        if (step == 0 && MenuForm && MenuForm->Visible() && !MenuForm->TimeShown.empty()) {
            step = 1;
            drive::PressKey(*MenuForm, VK_F4);
        } else if (step == 1 && TreeUIForm && app->ActiveForm() == TreeUIForm && !TreeUIForm->TimeShown.empty()) {
            step = 2;
            drive::PressKey(*TreeUIForm, VK_F10);
        } else if (step == 2 && app->ActiveForm() == MenuForm) {
            step = 3;
            drive::PressKey(*MenuForm, VK_F10);
        }
    }), 0);
    EXPECT_EQ(step, 3);
    ASSERT_NE(TreeUIForm, nullptr);
    EXPECT_EQ(app->FindForm("TreeUIForm"), TreeUIForm);
    EXPECT_FALSE(TreeUIForm->Visible());
    EXPECT_EQ(TreeUIForm->Caption(), "TELVX - NODES TREE");
    EXPECT_EQ(Dump(TreeUIForm->TreeView1), "OPERATIONALs/0");
}
