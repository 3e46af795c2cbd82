#include "Tree.h"

#include <algorithm>
#include <vector>

#include "AppStrings.h"
#include "Fancoil.h"
#include "Menu.h"
#include "Schedule.h"
#include "ScheduleHelpers.h"
#include "UIFile.h"
#include "WindowCommon.h"
#include "forms/Keys.h"
#include "rtl/Messages.h"
#include "rtl/NumberText.h"

TTreeUIForm* TreeUIForm = nullptr;

namespace {

constexpr int kMenuTag = 99;
constexpr size_t kLabelWidth = 13;
constexpr const char* kPreOperRoot = "PRE-OPERs";
constexpr const char* kOperRoot = "OPERATIONALs";
constexpr const char* kZemLabel = "ZEM";

// Pictures of ImageList1, by index.
enum : int { ImgRoot, ImgPreOper, ImgMember, ImgSpare1, ImgMaster, ImgZem, ImgSpare2 };

// Scroll-bar position seen by the previous scroll change.
int LastScrollPosition = 0;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

const TUIWinDefRows* RowsOf(uint8_t node) {
    if (!UIFile) return nullptr;
    return node == TFancoil::kZem ? &UIFile->ZemRows : &UIFile->ParamRows;
}

// The value of a row for a node as the memo shows it: analog values scaled by the row's decimals
// with the user's decimal separator, integer values whole.
std::string ValueText(const TUIWinDefRow& row, uint8_t node) {
    if (!FancoilData) return {};
    if (row.Type == 'A') {
        double value = FancoilData->ReadAnalog(row.Address, node);
        for (int i = 0; i < row.NumDec; ++i) value /= 10;
        std::string text = rtl::FormatC("%.*f", int(row.NumDec), value);
        std::replace(text.begin(), text.end(), '.', rtl::LocaleDecimalPoint());
        return text;
    }
    if (row.Type == 'I') return std::to_string(FancoilData->ReadInteger(row.Address, node));
    return {};
}

}  // namespace

TTreeUIForm::TTreeUIForm()
    : forms::TForm("TreeUIForm", 587, 507),
      Image1(this, "Image1"),
      SBMonitor(this, "SBMonitor"),
      TreeView1(this, "TreeView1"),
      Memo1(this, "Memo1"),
      TreeView2(this, "TreeView2"),
      BMenu(this, "BMenu"),
      ScrollMemo1(this, "ScrollMemo1") {
    KeyPreview = true;

    Image1.SetBounds(16, 4, 100, 40);

    SBMonitor.SetBounds(-1, 471, 589, 38);
    SBMonitor.Anchors = forms::akLeft | forms::akRight | forms::akBottom;
    SBMonitor.SetFont({.Name = "Tahoma", .Height = -11});
    InitStatusPanels(SBMonitor);
    SBMonitor.OnDrawPanel = [this](forms::TStatusBar* bar, forms::TStatusPanel& panel, const forms::TRect& rect) {
        SBMonitorDrawPanel(bar, panel, rect);
    };

    TreeView1.SetBounds(128, 50, 210, 393);
    TreeView1.SetIndent(19);
    TreeView1.SetImages(&ImageList1);
    TreeView1.OnChange = [this](forms::TTreeView*, forms::TTreeNode* node) { TreeView1Change(node); };
    TreeView1.OnEditing = [this](forms::TTreeView*, forms::TTreeNode* node, bool& allow) {
        TreeView1Editing(node, allow);
    };
    TreeView1.OnEdited = [this](forms::TTreeView*, forms::TTreeNode* node, std::string& text) {
        TreeView1Edited(node, text);
    };
    TreeView1.OnCollapsing = [](forms::TTreeView*, forms::TTreeNode*, bool& allow) { allow = false; };

    Memo1.SetBounds(345, 50, 197, 393);
    Memo1.SetFont({.Name = "Courier", .Height = -13});
    Memo1.SetWordWrap(false);
    Memo1.SetWantReturns(false);
    Memo1.SetScrollBars(forms::TScrollStyle::ssNone);

    TreeView2.SetBounds(16, 50, 105, 393);
    TreeView2.SetColor(forms::clWhite);
    TreeView2.SetReadOnly(true);
    TreeView2.SetIndent(19);
    TreeView2.SetImages(&ImageList1);

    BMenu.SetBounds(410, 13, 109, 25);
    BMenu.Tag = kMenuTag;
    BMenu.SetCaption("F10 - MENU");
    BMenu.SetFont({.Name = "Fixedsys", .Height = -12});
    BMenu.OnClick = [this](forms::TControl*) { HideOnMenuTag(kMenuTag); };

    ScrollMemo1.SetBounds(549, 50, 27, 393);
    ScrollMemo1.SetParams(0, 100, 0);
    ScrollMemo1.SetLargeChange(25);
    ScrollMemo1.SetTabStop(false);
    ScrollMemo1.OnChange = [this](forms::TControl*) { ScrollMemo1Change(); };

    // F10 works whichever control has the focus.
    for (forms::TControl* c : std::vector<forms::TControl*>{&TreeView1, &TreeView2, &Memo1, &BMenu})
        c->OnKeyDown = [this](forms::TControl*, uint16_t& key, forms::TShiftState shift) { FormKeyDown(key, shift); };

    DrawPictures();
}

// The picture in the corner and the seven tree images: filled squares with a dark shadow.
void TTreeUIForm::DrawPictures() {
    DrawNameBand(Image1.Picture(), 100, 40, MakeRGB(0, 130, 60), -18, "TREE");

    static const int colours[][3] = {{132, 132, 132}, {255, 0, 0},   {0, 255, 0},  {0, 132, 132},
                                     {255, 255, 0},   {0, 255, 255}, {132, 0, 132}};
    for (const auto& rgb : colours) {
        forms::TBitmap image(16, 16);
        forms::TCanvas& ic = image.Canvas();
        ic.Brush.Color = forms::clWhite;
        ic.FillRect({0, 0, 16, 16});
        ic.Brush.Color = MakeRGB(64, 64, 64);
        ic.FillRect({3, 3, 15, 15});
        ic.Brush.Color = MakeRGB(rgb[0], rgb[1], rgb[2]);
        ic.FillRect({1, 1, 13, 13});
        ImageList1.Add(image);
    }
}

void TTreeUIForm::RegisterStrings() { RegisterDefault("TREEFORM_TITLE", "NODES TREE"); }

void TTreeUIForm::FormCreate() {
    const int frameWidth = Width() - ClientWidth();
    const int frameHeight = Height() - ClientHeight();
    SetMinSize(static_cast<int>(frameWidth + Memo1.Left() + Memo1.Width() + ScrollMemo1.Width() + 0.1 * Memo1.Width()),
               static_cast<int>(frameHeight + Memo1.Top() + 0.1 * Memo1.Height()));
    RegisterStrings();
    if (RefreshList) RefreshList->push_back(TFuncPtr{&TTreeUIForm::RefreshTick, this});
}

void TTreeUIForm::FormShow() { SetCaption(JoinedCaption("TREEFORM_TITLE")); }

void TTreeUIForm::FormHide() {
    if (MenuForm) MenuForm->Show();
}

void TTreeUIForm::FormActivate() {
    BuildPreOperTree();
    BuildOperTree();
}

void TTreeUIForm::FormPaint() { Canvas().FillRect({0, 0, Width(), Height()}); }

void TTreeUIForm::FormResize() {
    const int h = SBMonitor.Top() - Memo1.Top() - 10;
    for (forms::TControl* c : std::vector<forms::TControl*>{&Memo1, &ScrollMemo1, &TreeView1, &TreeView2})
        c->SetHeight(h);
    const int fontHeight = Memo1.Font().Height;
    MemoLineCount = h / ((fontHeight < 0 ? -fontHeight : fontHeight) + 3);
}

void TTreeUIForm::FormKeyDown(uint16_t& Key, forms::TShiftState Shift) {
    if (Key == forms::VK_F10) {
        Key = 0;
        if (!(Shift & forms::ssRepeat)) HideOnMenuTag(kMenuTag);
    } else {
        HideOnMenuTag(0);
    }
}

void TTreeUIForm::HideOnMenuTag(int tag) {
    if (tag == kMenuTag) Hide();
}

void TTreeUIForm::SBMonitorDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel,
                                     const forms::TRect& Rect) {
    static const std::string blank;
    DrawStatusPanel(*StatusBar, Rect, PanelColour(), Font(), PanelText(Panel, DateShown, TimeShown, blank));
}

// ---- labels

int TTreeUIForm::NodeFromLabel(const std::string& text) {
    if (text == kZemLabel) return TFancoil::kZem;
    return UIFieldToInt(Trim(text.substr(0, text.find('-'))));
}

std::string TTreeUIForm::DescriptionFromLabel(const std::string& text) {
    const size_t dash = text.find('-');
    return dash == std::string::npos ? std::string() : Trim(text.substr(dash + 1));
}

std::string TTreeUIForm::PadLabel(const std::string& text) {
    return (Trim(text) + std::string(kLabelWidth, '.')).substr(0, kLabelWidth);
}

std::string TTreeUIForm::NodeLabel(int node) {
    std::string label = std::to_string(node);
    const std::string& description = FancoilData ? FancoilData->GetDescription(node) : std::string();
    if (!description.empty()) label += " - " + description;
    return label;
}

// ---- trees

void TTreeUIForm::BuildPreOperTree() {
    forms::TTreeNodes& items = TreeView2.Items();
    items.Clear();
    forms::TTreeNode* root = items.Add(nullptr, kPreOperRoot);
    root->SetImageIndex(ImgRoot);
    if (FancoilData)
        for (uint8_t n = FancoilData->NextPreOperNode(); n != 0; n = FancoilData->NextPreOperNode())
            items.AddChild(root, std::to_string(n))->SetImageIndex(ImgPreOper);
    TreeView2.FullExpand();
}

bool TTreeUIForm::AddMembers(forms::TTreeNode* head, const uint8_t* members) {
    for (; *members != 0; ++members) TreeView1.Items().AddChild(head, NodeLabel(*members));
    bool found = false;
    for (int i = 0; i < head->Count(); ++i) {
        forms::TTreeNode* child = head->Item(i);
        child->SetImageIndex(ImgMember);
        if (NodeFromLabel(child->Text()) == SelectedNode) {
            found = true;
            KeepSelection(child);
        }
    }
    return found;
}

void TTreeUIForm::BuildOperTree() {
    Rebuilding = true;
    forms::TTreeNodes& items = TreeView1.Items();
    items.Clear();
    forms::TTreeNode* root = items.Add(nullptr, kOperRoot);
    root->SetImageIndex(ImgRoot);
    forms::TTreeNode* parent = root;
    bool found = false;
    if (FancoilData) {
        TFancoil::TNodeList list{};
        if (FancoilData->ZemGroup(list)) {
            forms::TTreeNode* zem = items.AddChild(root, kZemLabel);
            zem->SetImageIndex(ImgZem);
            if (SelectedNode == TFancoil::kZem) {
                found = true;
                KeepSelection(zem);
            }
            found |= AddMembers(zem, &list[1]);
            parent = zem;
        }
        while (FancoilData->NextGroup(list)) {
            forms::TTreeNode* master = items.AddChild(parent, NodeLabel(list[0]));
            master->SetImageIndex(ImgMaster);
            if (list[0] == SelectedNode) {
                found = true;
                KeepSelection(master);
            }
            found |= AddMembers(master, &list[1]);
        }
        FancoilData->ClearPlaced();
    }
    TreeView1.FullExpand();
    if (!found) KeepSelection(root);
    Rebuilding = false;
    if (!found) {
        SelectedNode = 0;
        ShowNodeValues(0);
        MemoCaret = 0;
        ScrollMemo1.SetPosition(0);
        SetMemoCaret(MemoCaret);
    }
}

// The items are new after every rebuild. Left without a current item, the tree would make its
// first one (the root) current when it next gets the focus, as the scroll bar and every return
// to the window give it, and the memo would drop the node it shows. So the item of the node the
// memo shows (the root for none) is made current again, quietly.
void TTreeUIForm::KeepSelection(forms::TTreeNode* node) {
    if (TreeView1.Selected() == nullptr) TreeView1.SetSelected(node);
}

void TTreeUIForm::TreeView1Change(forms::TTreeNode* Node) {
    if (Node == nullptr || Rebuilding) return;
    const std::string text = Node->Text();
    const int n = NodeFromLabel(text);
    if (n == 0 && text != kOperRoot) rtl::MessageBox("VALORE NON VALIDO!", "ATTENZIONE", rtl::MB_OK);
    SelectedNode = static_cast<uint8_t>(n);
    ShowNodeValues(SelectedNode);
    MemoCaret = 0;
    ScrollMemo1.SetPosition(0);
    SetMemoCaret(MemoCaret);
}

// ---- descriptions

void TTreeUIForm::TreeView1Editing(forms::TTreeNode* Node, bool& AllowEdit) {
    EditNode = Node ? NodeFromLabel(Node->Text()) : 0;
    AllowEdit = true;
}

void TTreeUIForm::TreeView1Edited(forms::TTreeNode* Node, std::string& S) {
    // A description holding "?" would read as none at the next start, so it is refused too.
    if (NodeFromLabel(S) != EditNode || Node == TreeView1.Items().GetFirstNode() ||
        DescriptionFromLabel(S).find('?') != std::string::npos) {
        rtl::MessageBox("VALORE NON ACCETTABILE!", "ATTENZIONE", rtl::MB_OK);
        S = Node->Text();
    } else if (FancoilData && S != kZemLabel) {
        // "ZEM" carries no description: committing it unchanged keeps the controller's one.
        FancoilData->SetDescription(EditNode, DescriptionFromLabel(S));
    }
    EditNode = 0;
    if (FancoilData && FanStr && !FancoilData->SaveDescriptions(*FanStr))
        rtl::MessageBox("SALVATAGGIO DESCRIZIONE FAN COIL FALLITO!", "ATTENZIONE", rtl::MB_OK);
}

// ---- memo

void TTreeUIForm::SetMemoCaret(int position) {
    Memo1.SetSelStart(position);
    Memo1.SetSelLength(1);
}

void TTreeUIForm::ShowNodeValues(uint8_t node) {
    Memo1.Clear();
    Memo1.AddLine(PadLabel("NODE_ID") + std::to_string(node));
    const TUIWinDefRows* rows = RowsOf(node);
    if (node == 0 || !rows) return;
    for (size_t i = 0; i < rows->Count(); ++i) {
        const TUIWinDefRow& row = rows->Row(i);
        Memo1.AddLine(PadLabel(row.Name) + ValueText(row, node));
    }
}

void TTreeUIForm::RefreshNodeValues(uint8_t node) {
    const TUIWinDefRows* rows = RowsOf(node);
    if (node == 0 || !rows) return;
    for (size_t i = 0; i < rows->Count(); ++i) {
        const int line = static_cast<int>(i) + 1;
        Memo1.SetLine(line, Memo1.Line(line).substr(0, kLabelWidth) + ValueText(rows->Row(i), node));
    }
}

void TTreeUIForm::ScrollMemo1Change() {
    const int p = ScrollMemo1.Position();
    const int lines = Memo1.LineCount();
    const int n = static_cast<int>((lines - MemoLineCount) * p * 0.01 + 0.5);
    // Character position of the start of a line, each break counting two, plus 10; lines past
    // the end count as empty.
    auto position = [&](int lastLine) {
        int sum = 10;
        for (int i = 0; i <= lastLine; ++i) sum += (i < lines ? static_cast<int>(Memo1.Line(i).size()) : 0) + 2;
        return sum;
    };
    const int top = position(n - 1);
    MemoCaret = top;
    const int bottom = position(n + MemoLineCount - 2);
    TreeView1.SetFocus();
    SetMemoCaret(p < LastScrollPosition ? top : bottom);
    LastScrollPosition = p;
    Memo1.Repaint();
}

// ---- refresh

void TTreeUIForm::RefreshTick(void* data) {
    auto* form = static_cast<TTreeUIForm*>(data);
    if (!IsActiveWindow(*form)) return;
    if (TakeDateTime(form->DateShown, form->TimeShown)) form->SBMonitor.Invalidate();
    if (!FancoilData) return;
    const bool zemChanged = FancoilData->TakeChanged(TFancoil::kZem) != 0;
    if (zemChanged) {
        form->BuildPreOperTree();
        form->BuildOperTree();
        form->TreeView1.Repaint();
        form->TreeView2.Repaint();
    }
    const uint8_t node = form->SelectedNode;
    if (node == 0) return;
    const bool changed = node == TFancoil::kZem ? zemChanged : FancoilData->TakeChanged(node) != 0;
    if (!changed) return;
    form->RefreshNodeValues(node);
    form->SetMemoCaret(form->MemoCaret);
    form->Memo1.Repaint();
}
