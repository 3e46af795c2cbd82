// The nodes panel: the parameter rows of up to four nodes side by side, one grid per node, each
// with the node's network state and a hint when its firmware is too old to be edited. Typing a
// node number shows it and asks it for its firmware version; a right-click on a row edits the
// value in the edit dialog.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "forms/Buttons.h"
#include "forms/ComCtrls.h"
#include "forms/ExtCtrls.h"
#include "forms/Forms.h"
#include "forms/Grids.h"
#include "forms/StdCtrls.h"

class TNodesUIForm : public forms::TForm {
public:
    static constexpr int kGrids = 4;

    TNodesUIForm();

    forms::TBitBtn BMenu;
    forms::TStatusBar SBMonitor;
    forms::TImage Image1;
    forms::TStringGrid SGWin1, SGWin2, SGWin3, SGWin4;
    forms::TEdit FCNum1, FCNum2, FCNum3, FCNum4;
    forms::TLabel Label1, Label2, Label3, Label4;
    forms::TLabel FCState1, FCState2, FCState3, FCState4;
    forms::TLabel UpdVers1, UpdVers2, UpdVers3, UpdVers4;

    std::string TimeShown;
    std::string DateShown;
    std::string StatusText;  // never given a text: panel "3" stays empty
    uint32_t StatusStamp = 0;
    // Per grid (index k - 1 for grid k): the node shown (0: none), a version request not yet
    // seen finished, and a firmware version word from 1 to 0x4600 at the last cell drawn.
    std::array<int32_t, kGrids> GridNode{};
    std::array<uint8_t, kGrids> SelectPending{};
    std::array<uint8_t, kGrids> OldFirmware{};

    static void RegisterStrings();
    void InitGrids();
    void ShowNodeState(forms::TLabel& label, int node);
    // The panel's entries in RefreshList and InvalidateList; data is the form.
    static void RefreshTick(void* data);
    static void InvalidateCallback(void* data);
    // Edits the value of the row under the pointer of a grid in the edit dialog and writes it.
    void EditParameter(forms::TStringGrid* grid, int row);

    // Grid k's parts (k = 1 to 4).
    forms::TStringGrid& Grid(int k);
    forms::TEdit& NodeField(int k);
    forms::TLabel& StateLabel(int k);
    forms::TLabel& HintLabel(int k);
    // The text a cell of grid k shows: blank while the grid's node is not present.
    std::string CellText(int k, int col, int row) const;

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormHide() override;
    void FormPaint() override;
    void FormResize() override;
    void FormKeyDown(uint16_t& Key, forms::TShiftState Shift) override;

private:
    void BClick(forms::TControl* Sender);
    void SBMonitorDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel, const forms::TRect& Rect);
    void SGWinDrawCell(forms::TStringGrid* Sender, int ACol, int ARow, const forms::TRect& Rect);
    void SGWinMouseUp(forms::TStringGrid* Sender, forms::TMouseButton Button, int X, int Y);
    void FCNumKeyDown(int k, uint16_t Key);
    // 1 to 4 from the grid's name, 0 for none.
    int GridNumber(const forms::TStringGrid* grid) const;
    void TestFirmware(int k);
};

extern TNodesUIForm* NodesUIForm;
