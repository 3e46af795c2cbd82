#include "Ui.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "Editpar.h"
#include "Fancoil.h"
#include "Menu.h"
#include "Morvand.h"
#include "Schedule.h"
#include "UIFile.h"
#include "ValueCheck.h"
#include "WindowCommon.h"
#include "forms/Keys.h"
#include "rtl/Messages.h"
#include "rtl/NumberText.h"

TNodesUIForm* NodesUIForm = nullptr;

namespace {

constexpr int kMenuTag = 99;
constexpr int kFirstNode = 21;
constexpr int kZem = TFancoil::kZem;
constexpr int kZemVersionNode = 126;  // node 127 answers its version request as 126
constexpr uint8_t kVersionIndex = 16;
constexpr uint8_t kRequestIndex = 18;
constexpr int16_t kVersionRequest = 5;
constexpr uint16_t kFirstCurrentVersion = 0x4601;  // 04.06.001
constexpr uint32_t kStatusTimeout = 3000;
constexpr size_t kMaxCellText = 99;
constexpr forms::TColor kFocusFrame = 0x800000;  // navy: the node field the keys go to

// printf into a cell's buffer, with a point before the decimals in any locale: longer texts are
// cut at its 99 characters.
template <typename... Args>
std::string CellFormat(const char* format, Args... args) {
    return rtl::FormatC(format, args...).substr(0, kMaxCellText);
}

// The node whose library record holds the version word and the version request.
uint8_t VersionNode(int node) { return static_cast<uint8_t>(node == kZem ? kZemVersionNode : node); }

// The framework's reading of a typed number: leading blanks, then decimal with a sign or
// hexadecimal after "$" or "0x"; anything else reads as 0.
int NodeNumberOf(const std::string& text) {
    const size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? 0 : UIFieldToInt(std::string_view(text).substr(start));
}

const TUIWinDefRows* RowsOf(int node) {
    if (!UIFile) return nullptr;
    return node == kZem ? &UIFile->ZemRows : &UIFile->ParamRows;
}

bool Present(int node) { return FancoilData && FancoilData->IsPresent(node); }

// The value column: the node's value of the row, scaled by its decimals.
std::string ValueText(const TUIWinDefRow& row, int node) {
    const double s = std::pow(10.0, row.NumDec);
    const int decimals = row.NumDec;
    if (row.Type == 'A') return CellFormat("%6.*f", decimals, FancoilData->ReadAnalog(row.Address, node) / s);
    if (row.Type != 'I') return {};
    const int raw = FancoilData->ReadInteger(row.Address, node);
    if (row.NumDec != 0) return CellFormat("%6.*f", decimals, static_cast<int16_t>(raw) / s);
    if (row.Address == kVersionIndex) {
        const unsigned w = static_cast<uint16_t>(raw);
        return CellFormat("%02d.%02d.%03d", w >> 12, (w >> 8) & 15, w & 255);
    }
    return CellFormat("%d", static_cast<int16_t>(raw));
}

}  // namespace

TNodesUIForm::TNodesUIForm()
    : forms::TForm("NodesUIForm", 677, 663),
      BMenu(this, "BMenu"),
      SBMonitor(this, "SBMonitor"),
      Image1(this, "Image1"),
      SGWin1(this, "SGWin1"),
      SGWin2(this, "SGWin2"),
      SGWin3(this, "SGWin3"),
      SGWin4(this, "SGWin4"),
      FCNum1(this, "FCNum1"),
      FCNum2(this, "FCNum2"),
      FCNum3(this, "FCNum3"),
      FCNum4(this, "FCNum4"),
      Label1(this, "Label1"),
      Label2(this, "Label2"),
      Label3(this, "Label3"),
      Label4(this, "Label4"),
      FCState1(this, "FCState1"),
      FCState2(this, "FCState2"),
      FCState3(this, "FCState3"),
      FCState4(this, "FCState4"),
      UpdVers1(this, "UpdVers1"),
      UpdVers2(this, "UpdVers2"),
      UpdVers3(this, "UpdVers3"),
      UpdVers4(this, "UpdVers4") {
    SetFont(MakeFont("Courier New", -15));
    KeyPreview = true;

    Image1.SetBounds(9, 14, 100, 40);
    DrawLogo(Image1.Picture());

    BMenu.SetBounds(547, 31, 110, 25);
    BMenu.SetCaption("F10 - MENU");
    BMenu.Tag = kMenuTag;
    BMenu.SetFont(MakeFont("Fixedsys", -12));
    BMenu.OnClick = [this](forms::TControl* sender) { BClick(sender); };

    // Header rows: hint, state, caption and node field above each grid.
    struct THeader {
        int hintLeft, hintTop, stateLeft, stateTop, captionLeft, captionTop, fieldLeft, fieldTop;
    };
    const THeader headers[kGrids] = {{12, 81, 100, 82, 210, 82, 290, 80},
                                     {13, 356, 100, 356, 210, 357, 290, 355},
                                     {347, 81, 436, 82, 545, 82, 625, 80},
                                     {346, 356, 437, 357, 544, 356, 625, 353}};
    forms::TLabel* captions[kGrids] = {&Label1, &Label2, &Label3, &Label4};
    for (int k = 1; k <= kGrids; ++k) {
        const THeader& h = headers[k - 1];
        forms::TLabel& hint = HintLabel(k);
        hint.SetFont(MakeFont("Courier New", -15, 0, forms::clRed));
        hint.SetBounds(h.hintLeft, h.hintTop, 0, 0);
        forms::TLabel& state = StateLabel(k);
        state.SetFont(MakeFont("Courier New", -15, 0, forms::clRed));
        state.SetBounds(h.stateLeft, h.stateTop, 0, 0);
        forms::TLabel& caption = *captions[k - 1];
        caption.SetFont(MakeFont("Courier New", -16, forms::fsBold));
        caption.SetCaption("Node ID");
        // Fixed height: the layout spaces the lower grids by the caption's height.
        caption.SetAutoSize(false);
        caption.SetBounds(h.captionLeft, h.captionTop, 78, 18);
        forms::TEdit& field = NodeField(k);
        field.SetBounds(h.fieldLeft, h.fieldTop, 33, 23);
        field.OnKeyDown = [this, k](forms::TControl*, uint16_t& key, forms::TShiftState) { FCNumKeyDown(k, key); };
        field.SetFocusFrame(kFocusFrame);
        forms::TStringGrid& grid = Grid(k);
        grid.SetFont(MakeFont("Fixedsys", -12));
        grid.SetDefaultRowHeight(16);
        grid.SetGridLines(true);
        grid.OnDrawCell = [this](forms::TStringGrid* sender, int col, int row, const forms::TRect& rect,
                                 forms::TGridDrawState) { SGWinDrawCell(sender, col, row, rect); };
        grid.OnMouseUp = [this, &grid](forms::TControl*, forms::TMouseButton button, forms::TShiftState, int x,
                                       int y) { SGWinMouseUp(&grid, button, x, y); };
    }
    SGWin1.SetBounds(10, 111, 320, 191);
    SGWin3.SetBounds(345, 111, 320, 191);
    SGWin2.SetBounds(10, 387, 320, 191);
    SGWin4.SetBounds(345, 386, 320, 191);

    // Tab goes from node field to node field in reading order, never into the grids or onto the
    // menu button.
    SetTabOrder({&FCNum1, &FCNum3, &FCNum2, &FCNum4});

    SBMonitor.SetBounds(-1, 631, 679, 33);
    SBMonitor.Anchors = forms::akLeft | forms::akRight | forms::akBottom;
    SBMonitor.SetFont(MakeFont("Tahoma", -11));
    InitStatusPanels(SBMonitor);
    SBMonitor.OnDrawPanel = [this](forms::TStatusBar* bar, forms::TStatusPanel& panel, const forms::TRect& rect) {
        SBMonitorDrawPanel(bar, panel, rect);
    };
}

forms::TStringGrid& TNodesUIForm::Grid(int k) {
    forms::TStringGrid* grids[kGrids] = {&SGWin1, &SGWin2, &SGWin3, &SGWin4};
    return *grids[k - 1];
}

forms::TEdit& TNodesUIForm::NodeField(int k) {
    forms::TEdit* fields[kGrids] = {&FCNum1, &FCNum2, &FCNum3, &FCNum4};
    return *fields[k - 1];
}

forms::TLabel& TNodesUIForm::StateLabel(int k) {
    forms::TLabel* labels[kGrids] = {&FCState1, &FCState2, &FCState3, &FCState4};
    return *labels[k - 1];
}

forms::TLabel& TNodesUIForm::HintLabel(int k) {
    forms::TLabel* labels[kGrids] = {&UpdVers1, &UpdVers2, &UpdVers3, &UpdVers4};
    return *labels[k - 1];
}

int TNodesUIForm::GridNumber(const forms::TStringGrid* grid) const {
    if (!grid) return 0;
    const std::string_view name = grid->Name;
    if (name.size() != 6 || !name.starts_with("SGWin")) return 0;
    const int k = name[5] - '0';
    return k >= 1 && k <= kGrids ? k : 0;
}

void TNodesUIForm::RegisterStrings() { RegisterDefault("NODESUIFORM_TITLE", "NODES PANEL"); }

void TNodesUIForm::InitGrids() {
    for (int k = 1; k <= kGrids; ++k) {
        forms::TStringGrid& grid = Grid(k);
        grid.SetColor(PanelColour());
        grid.SetColCount(3);
        grid.SetColWidth(0, 144);
        grid.SetColWidth(1, 95);
        grid.SetColWidth(2, 55);
        grid.SetRowCount(1);
    }
}

void TNodesUIForm::FormCreate() {
    const int minHeight = static_cast<int>(Height() - ClientHeight() + SGWin1.Top() + 0.2 * SGWin1.Height() +
                                           Label2.Height() + 20);
    const int minWidth = Width() - ClientWidth() + SGWin3.Left() + SGWin3.Width() + 5;
    SetMinSize(minWidth, minHeight);
    RegisterStrings();
    if (InvalidateList) InvalidateList->push_back(TFuncPtr{&TNodesUIForm::InvalidateCallback, this});
    if (RefreshList) RefreshList->push_back(TFuncPtr{&TNodesUIForm::RefreshTick, this});
    InitGrids();
    StatusStamp = SysTick.load();
    for (int k = 1; k <= kGrids; ++k) {
        NodeField(k).SetText("--");
        GridNode[k - 1] = 0;
        HintLabel(k).SetCaption("");
    }
}

void TNodesUIForm::FormShow() {
    SetCaption(JoinedCaption("NODESUIFORM_TITLE"));
    // The keys start in the first node field, its text selected: a number typed right after F3
    // replaces it, and its Enter shows that node rather than pressing "F10 - MENU".
    FCNum1.SetFocus();
    FCNum1.SelectAll();
}

void TNodesUIForm::FormHide() {
    if (MenuForm) MenuForm->Show();
}

void TNodesUIForm::FormPaint() { Canvas().FillRect({0, 0, Width(), Height()}); }

void TNodesUIForm::FormResize() {
    const int a = Label2.Height() + 20;
    const int H = SBMonitor.Top() - SGWin1.Top() - a - 10;
    // Near the minimum height the formula goes a little below zero: the grids then vanish.
    const int h = std::max(static_cast<int>(H * 0.5), 0);
    SGWin1.SetHeight(h);
    const int t = SGWin1.Top() + SGWin1.Height() + 10;
    forms::TControl* lowerHeader[] = {&Label2, &FCState2, &UpdVers2, &FCNum2, &Label4, &FCState4, &UpdVers4, &FCNum4};
    for (forms::TControl* c : lowerHeader) c->SetTop(t);
    const int lowerTop = SGWin1.Top() + SGWin1.Height() + a;
    SGWin2.SetTop(lowerTop);
    SGWin2.SetHeight(h);
    SGWin3.SetHeight(h);
    SGWin4.SetTop(lowerTop);
    SGWin4.SetHeight(h);
}

void TNodesUIForm::FormKeyDown(uint16_t& Key, forms::TShiftState Shift) {
    if (Key != forms::VK_F10) return;
    Key = 0;
    if (!(Shift & forms::ssRepeat)) Hide();
}

void TNodesUIForm::BClick(forms::TControl* Sender) {
    if (Sender->Tag == kMenuTag) Hide();
}

void TNodesUIForm::SBMonitorDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel,
                                      const forms::TRect& Rect) {
    DrawStatusPanel(*StatusBar, Rect, PanelColour(), Font(), PanelText(Panel, DateShown, TimeShown, StatusText));
}

void TNodesUIForm::FCNumKeyDown(int k, uint16_t Key) {
    if (Key != forms::VK_RETURN) return;
    forms::TEdit& field = NodeField(k);
    int n = NodeNumberOf(field.Text());
    if (n < kFirstNode || n > kZem) {
        n = 0;
        field.SetText("--");
    }
    GridNode[k - 1] = n;
    Grid(k).Repaint();
    if (Present(n)) {
        _WrDBValue(VersionNode(n), kRequestIndex, TFancoil::kTypeInteger, kVersionRequest);
        SelectPending[k - 1] = 1;
    }
}

void TNodesUIForm::TestFirmware(int k) {
    uint16_t v = 0;
    _RdDBValue(VersionNode(GridNode[k - 1]), kVersionIndex, TFancoil::kTypeInteger, &v);
    const bool old = v != 0 && v < kFirstCurrentVersion;
    OldFirmware[k - 1] = old ? 1 : 0;
    HintLabel(k).SetCaption(old ? "Upd.SW V." : "");
}

std::string TNodesUIForm::CellText(int k, int col, int row) const {
    const int node = GridNode[k - 1];
    const TUIWinDefRows* rows = RowsOf(node);
    if (!rows || row < 0 || static_cast<size_t>(row) >= rows->Count() || !Present(node)) return {};
    const TUIWinDefRow& r = rows->Row(static_cast<size_t>(row));
    std::string text;
    switch (col) {
        case 0: text = r.Name; break;
        case 1: text = ValueText(r, node); break;
        case 2: text = r.Units; break;
        default: break;
    }
    if (text.size() > kMaxCellText) text.resize(kMaxCellText);
    return text;
}

void TNodesUIForm::SGWinDrawCell(forms::TStringGrid* Sender, int ACol, int ARow, const forms::TRect& Rect) {
    const int k = GridNumber(Sender);
    if (k == 0) return;
    forms::TBitmap bitmap(Rect.Width(), Rect.Height());
    forms::TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = PanelColour();
    canvas.Font = Sender->Font();
    TestFirmware(k);
    const TUIWinDefRows* rows = RowsOf(GridNode[k - 1]);
    const int count = rows ? static_cast<int>(rows->Count()) : 0;
    // A list without rows still leaves one (empty) row in the grid.
    Sender->SetRowCount(std::max(count, 1));
    canvas.FillRect({0, 0, bitmap.Width(), bitmap.Height()});
    if (ARow < count) {
        if (ACol == 1) ShowNodeState(StateLabel(k), GridNode[k - 1]);
        const std::string text = CellText(k, ACol, ARow);
        canvas.Font.Color = forms::clBlack;
        const int x = ACol == 1 ? bitmap.Width() - canvas.TextWidth(text) - 2 : 2;
        const int y = (bitmap.Height() - canvas.TextHeight(text)) / 2;
        canvas.TextOut(x, y, text);
    }
    Sender->Canvas().Draw(Rect.Left, Rect.Top, bitmap);
}

void TNodesUIForm::ShowNodeState(forms::TLabel& label, int node) {
    const char* key = !Present(node)                         ? "UIFORM_NOT_PRESENT"
                      : FancoilData->IsOperational(node) ? "UIFORM_OPERATIONAL"
                                                         : "UIFORM_PRE_OPERATIONAL";
    label.SetCaption(AppText(key));
}

void TNodesUIForm::SGWinMouseUp(forms::TStringGrid* Sender, forms::TMouseButton Button, int X, int Y) {
    if (Button != forms::TMouseButton::mbRight) return;
    int col = -1, row = -1;
    Sender->MouseToCell(X, Y, col, row);
    EditParameter(Sender, row);
}

void TNodesUIForm::RefreshTick(void* data) {
    auto* panel = static_cast<TNodesUIForm*>(data);
    if (!IsActiveWindow(*panel)) return;
    if (TakeDateTime(panel->DateShown, panel->TimeShown)) panel->SBMonitor.Invalidate();
    if (panel->StatusStamp + kStatusTimeout < SysTick.load()) panel->StatusText.clear();
    for (int k = 1; k <= kGrids; ++k) {
        if (!panel->SelectPending[k - 1]) continue;
        uint16_t v = 0;
        _RdDBValue(VersionNode(panel->GridNode[k - 1]), kRequestIndex, TFancoil::kTypeInteger, &v);
        if (v == 0) panel->SelectPending[k - 1] = 0;
    }
    if (!FancoilData) return;
    for (int k = 1; k <= kGrids; ++k) {
        const int node = panel->GridNode[k - 1];
        if (node != kZem && FancoilData->TakeChanged(node)) panel->Grid(k).Repaint();
    }
    if (FancoilData->TakeChanged(kZem))
        for (int k = 1; k <= kGrids; ++k) panel->Grid(k).Repaint();
}

void TNodesUIForm::InvalidateCallback(void* data) { static_cast<TNodesUIForm*>(data)->Invalidate(); }

void TNodesUIForm::EditParameter(forms::TStringGrid* grid, int row) {
    const int k = GridNumber(grid);
    if (k == 0 || OldFirmware[k - 1] || !EditParForm) return;
    const int node = GridNode[k - 1];
    if (!Present(node)) return;
    const bool zem = node == kZem;
    const TUIWinDefRows* rows = RowsOf(node);
    if (!rows || row < 0 || static_cast<size_t>(row) >= rows->Count()) return;
    const TUIWinDefRow& r = rows->Row(static_cast<size_t>(row));
    const TUIWinDefRow* setPoint = zem ? nullptr : FindSetPointRow(UIFile->ParamRows);

    TEditParForm& dialog = *EditParForm;
    dialog.SetLeft(Left() + Width() - ClientWidth() + grid->Left());
    dialog.SetTop(Top() + Height() - ClientHeight() + grid->Top());
    if (r.RO != 0) {
        rtl::MessageBox("PARAMETRO READ ONLY!", "ATTENZIONE", rtl::MB_OK);
        return;
    }
    const int raw = r.Type == 'A' ? FancoilData->ReadAnalog(r.Address, node) : FancoilData->ReadInteger(r.Address, node);
    if (std::optional<std::string> text = EditInitialText(r, raw)) {
        if (text->size() > kMaxCellText) text->resize(kMaxCellText);
        dialog.LEValue.SetText(*text);
    }
    dialog.LEValue.EditLabel.SetCaption(r.Name);

    for (;;) {
        const int result = dialog.ShowModal();
        // A program that is ending closes every dialog: the edit ends with it.
        if (forms::Application && forms::Application->Terminated()) {
            dialog.SetDone(1);
            break;
        }
        if (result == forms::mrOk && (r.Type == 'A' || r.Type == 'I')) {
            const TValueVerdict verdict =
                CheckEntry(dialog.LEValue.Text(), r, setPoint, static_cast<uint8_t>(node),
                           ReadNodeMode(*FancoilData, static_cast<uint8_t>(node)));
            if (verdict.Accepted) {
                dialog.SetDone(1);
                _WrDBValue(static_cast<uint8_t>(node), r.Address, verdict.Kind, verdict.Value);
            } else {
                dialog.ShowError(std::string(verdict.Refusal));
                dialog.SetDone(0);
            }
        }
        if (dialog.IsDone()) break;
    }
}
