#include "Dwload.h"

#include <cstdio>
#include <initializer_list>

#include "DwlFc.h"
#include "Fancoil.h"
#include "Menu.h"
#include "Schedule.h"
#include "WindowCommon.h"
#include "forms/Keys.h"
#include "rtl/Messages.h"

TDwldUIForm* DwldUIForm = nullptr;

namespace {

constexpr int kMenuTag = 99;
constexpr int kGridRows = 107;  // one for each possible node 21..127
constexpr int kStatusHold = 3000;
constexpr forms::TColor kSelectedColour = 0x00FFFF;
constexpr forms::TColor kDoneColour = 0x00FF00;
constexpr forms::TColor kFailedColour = 0x0000FF;

forms::TColor StateColour(uint8_t state) {
    switch (state) {
        case TDwlFc::StateSelected: return kSelectedColour;
        case TDwlFc::StateDone: return kDoneColour;
        case TDwlFc::StateFailed: return kFailedColour;
        default: return PanelColour();
    }
}

}  // namespace

TDwldUIForm::TDwldUIForm()
    : forms::TForm("DwldUIForm", 405, 608),
      Logo(this, "Logo"),
      LSelFile(this, "LSelFile"),
      Lock(this, "Lock"),
      SGWin1(this, "SGWin1"),
      BMenu(this, "BMenu"),
      BDwLd(this, "BDwLd"),
      BSelAll(this, "BSelAll"),
      BCollVers(this, "BCollVers"),
      DwlProgBar(this, "DwlProgBar"),
      SBMonitor(this, "SBMonitor") {
    SetFont(MakeFont("MS Sans Serif", -13));
    KeyPreview = true;
    const forms::TFont fixed = MakeFont("Fixedsys", -12);

    Logo.SetBounds(42, 10, 100, 40);
    DrawLogo(Logo.Picture());

    LSelFile.SetFont(fixed);
    LSelFile.SetBounds(150, 5, 0, 0);

    Lock.SetAutoSize(false);
    Lock.SetBounds(43, 84, 333, 10);
    Lock.SetHint("LOG Status");
    Lock.SetColor(TDownloadSequence::kLockFree);

    DwlProgBar.SetBounds(150, 28, 229, 16);
    DwlProgBar.SetRange(0, 100);

    struct TButtonPlace {
        forms::TButton* button;
        const char* caption;
        int left;
    };
    const TButtonPlace buttons[] = {
        {&BDwLd, "DOWNLOAD", 42}, {&BSelAll, "SELECT ALL", 127}, {&BCollVers, "COLL.VERS", 212}, {&BMenu, "F10 - MENU", 297}};
    for (const TButtonPlace& b : buttons) {
        b.button->SetBounds(b.left, 54, b.button == &BMenu ? 82 : 80, 25);
        b.button->SetCaption(b.caption);
        b.button->SetTabStop(false);
    }
    BMenu.Tag = kMenuTag;
    BMenu.OnClick = [this](forms::TControl* sender) { BMenuClick(sender); };
    BDwLd.OnClick = [this](forms::TControl* sender) { BDwLdClick(sender); };
    BSelAll.OnClick = [this](forms::TControl*) { SelectAll(); };
    BCollVers.OnClick = [this](forms::TControl* sender) { BCollVersClick(sender); };

    SGWin1.SetBounds(42, 96, 337, 459);
    SGWin1.SetFont(fixed);
    SGWin1.SetDefaultRowHeight(16);
    SGWin1.OnDrawCell = [this](forms::TStringGrid* grid, int col, int row, const forms::TRect& rect,
                               forms::TGridDrawState state) { SGWin1DrawCell(grid, col, row, rect, state); };
    SGWin1.OnMouseUp = [this](forms::TControl* sender, forms::TMouseButton button, forms::TShiftState shift, int x,
                              int y) { SGWin1MouseUp(sender, button, shift, x, y); };

    SBMonitor.SetBounds(0, 585, 405, 23);
    SBMonitor.Anchors = forms::akLeft | forms::akRight | forms::akBottom;
    InitStatusPanels(SBMonitor);
    SBMonitor.OnDrawPanel = [this](forms::TStatusBar* bar, forms::TStatusPanel& panel, const forms::TRect& rect) {
        SBMonitorDrawPanel(bar, panel, rect);
    };

    OpenDialog.Filter = "hexadecimal|*.hex";
    OpenDialog.InitialDir = ".\\IN";
}

TDwldUIForm::~TDwldUIForm() = default;

void TDwldUIForm::RegisterStrings() { RegisterDefault("DWLDUIFORM_TITLE", "DWLD PANEL"); }

void TDwldUIForm::FormCreate() {
    // The sequence starts idle with the strip green.
    Lock.SetColor(TDownloadSequence::kLockFree);
    const int frameWidth = Width() - ClientWidth(), frameHeight = Height() - ClientHeight();
    SetMinSize(int(frameWidth + SGWin1.Left() + SGWin1.Width() + 0.1 * SGWin1.Width()),
               int(frameHeight + SGWin1.Top() + 0.1 * SGWin1.Height()));
    RegisterStrings();
    if (InvalidateList) InvalidateList->push_back(TFuncPtr{&TDwldUIForm::InvalidateCallback, this});
    if (RefreshList) RefreshList->push_back(TFuncPtr{&TDwldUIForm::RefreshTick, this});
    InitGrid();
    StatusStamp = SysTick.load();
    LSelFile.SetCaption("");
    if (DwlFc && FancoilData)
        Download = std::make_unique<TDownloadSequence>(*DwlFc, *FancoilData, static_cast<TDownloadView&>(*this));
}

void TDwldUIForm::InitGrid() {
    SGWin1.SetColor(PanelColour());
    SGWin1.SetColCount(2);
    SGWin1.SetColWidth(0, 60);
    SGWin1.SetColWidth(1, 200);
    SGWin1.SetRowCount(kGridRows);
}

void TDwldUIForm::FormShow() { SetCaption(JoinedCaption("DWLDUIFORM_TITLE")); }

void TDwldUIForm::FormHide() {
    if (MenuForm) MenuForm->Show();
}

void TDwldUIForm::FormPaint() { Canvas().FillRect({0, 0, Width(), Height()}); }

void TDwldUIForm::FormResize() { SGWin1.SetHeight(SBMonitor.Top() - SGWin1.Top() - 10); }

void TDwldUIForm::FormKeyDown(uint16_t& Key, forms::TShiftState Shift) {
    if (Key != forms::VK_F10) return;
    Key = 0;
    if (!(Shift & forms::ssRepeat)) HideOnMenuTag(kMenuTag);
}

void TDwldUIForm::BMenuClick(forms::TControl* Sender) { HideOnMenuTag(Sender->Tag); }

void TDwldUIForm::HideOnMenuTag(int tag) {
    if (tag == kMenuTag && BMenu.Enabled()) Hide();
}

void TDwldUIForm::SBMonitorDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel,
                                     const forms::TRect& Rect) {
    DrawStatusPanel(*StatusBar, Rect, PanelColour(), Font(), PanelText(Panel, DateShown, TimeShown, StatusText));
}

void TDwldUIForm::SGWin1DrawCell(forms::TStringGrid* Sender, int ACol, int ARow, const forms::TRect& Rect,
                                 forms::TGridDrawState) {
    if (!DwlFc) return;
    forms::TBitmap bitmap(Rect.Width(), Rect.Height());
    forms::TCanvas& canvas = bitmap.Canvas();
    canvas.Font = Sender->Font();
    // Until a download starts the table follows the present nodes.
    if (Download && FancoilData && Download->GetDownloadRan() == 0) DwlFc->Fill(*FancoilData);
    canvas.Font.Color = forms::clBlack;
    canvas.Brush.Color = StateColour(DwlFc->GetState(ARow));
    std::string text;
    if (const uint8_t node = DwlFc->GetNode(ARow)) {
        if (ACol == 0) {
            char number[8];
            std::snprintf(number, sizeof number, "%d", node);
            text = number;
        } else if (ACol == 1) {
            text = DwlFc->VersionText(ARow);
        }
    }
    canvas.FillRect({0, 0, bitmap.Width(), bitmap.Height()});
    canvas.TextOut(2, (bitmap.Height() - canvas.TextHeight(text)) / 2, text);
    Sender->Canvas().Draw(Rect.Left, Rect.Top, bitmap);
}

void TDwldUIForm::SGWin1MouseUp(forms::TControl*, forms::TMouseButton Button, forms::TShiftState, int X, int Y) {
    if (!Download || Button != forms::TMouseButton::mbRight) return;
    int col, row;
    if (!SGWin1.MouseToCell(X, Y, col, row)) return;
    Download->ToggleSelection(row);
}

void TDwldUIForm::SelectAll() {
    if (Download) Download->SelectAll();
}

void TDwldUIForm::BDwLdClick(forms::TControl*) {
    if (!Download || !OpenDialog.Execute()) return;
    LSelFile.SetCaption(forms::FileNameText(ShownFileName(OpenDialog.FileName)));
    Download->Start(OpenDialog.FileName);
}

void TDwldUIForm::BCollVersClick(forms::TControl*) {
    if (Download) Download->CollectVersions();
}

void TDwldUIForm::RefreshTick(void* data) {
    auto* form = static_cast<TDwldUIForm*>(data);
    if (!IsActiveWindow(*form)) return;
    if (TakeDateTime(form->DateShown, form->TimeShown)) form->SBMonitor.Invalidate();
    if (SysTick.load() > form->StatusStamp + kStatusHold) form->StatusText.clear();
    // Node 127's values carry the presence of every node.
    if (FancoilData && FancoilData->TakeChanged(TFancoil::kZem)) form->SGWin1.Invalidate();
    if (!form->Download) return;
    form->Download->CollectVersionsStep();
    form->Download->DownloadStep();
}

void TDwldUIForm::InvalidateCallback(void* data) { static_cast<TDwldUIForm*>(data)->Invalidate(); }

void TDwldUIForm::EnableButtons(bool enabled) {
    for (forms::TButton* b : {&BDwLd, &BCollVers}) {
        b->SetEnabled(enabled);
        b->Repaint();
    }
}

void TDwldUIForm::SetLockColour(uint32_t colour) { Lock.SetColor(colour); }

void TDwldUIForm::SetProgress(int percent) { DwlProgBar.SetPosition(percent); }

void TDwldUIForm::RepaintGrid() { SGWin1.Invalidate(); }

void TDwldUIForm::ShowWarning(const std::string& text) {
    rtl::MessageBox(forms::FileNameText(text), "ATTENZIONE", rtl::MB_OK);
}

void TDwldUIForm::ReturnToMenu() {
    if (MenuForm) MenuForm->Show();
    Hide();
}
