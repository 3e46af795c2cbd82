// The nodes tree: the present nodes that are not operational on the left, the operational ones
// grouped under their group masters in the middle (under "ZEM" when the supervisory controller is
// operational), and the values of the node selected there in a memo on the right, kept up to date
// while the window is in front. Editing a label gives the node a description, which is written
// back, whole, into the node-description file.
#pragma once
#include <cstdint>
#include <string>

#include "forms/Buttons.h"
#include "forms/ComCtrls.h"
#include "forms/ExtCtrls.h"
#include "forms/Forms.h"
#include "forms/StdCtrls.h"
#include "forms/TreeView.h"

class TTreeUIForm : public forms::TForm {
public:
    TTreeUIForm();

    forms::TImage Image1;
    forms::TStatusBar SBMonitor;
    forms::TTreeView TreeView1;  // operational nodes by group
    forms::TMemo Memo1;
    forms::TTreeView TreeView2;  // present, not operational
    forms::TBitBtn BMenu;
    forms::TScrollBar ScrollMemo1;
    forms::TImageList ImageList1;

    std::string DateShown;
    std::string TimeShown;
    int32_t EditNode = 0;         // node of the label being edited
    int32_t MemoLineCount = 0;    // memo lines that fit its height
    int32_t MemoCaret = 0;        // where a refresh puts the memo's caret
    uint8_t SelectedNode = 0;     // node whose values the memo shows; 0 none

    static void RegisterStrings();
    // The window's entry in RefreshList; data is the form.
    static void RefreshTick(void* data);
    // 99 hides the window (and so brings the menu back); anything else does nothing.
    void HideOnMenuTag(int tag);

    void BuildPreOperTree();
    void BuildOperTree();
    void ShowNodeValues(uint8_t node);
    void RefreshNodeValues(uint8_t node);

    // "ZEM" is node 127; else the number before the first "-", 0 when it is none.
    static int NodeFromLabel(const std::string& text);
    // The text after the first "-", trimmed; empty without one.
    static std::string DescriptionFromLabel(const std::string& text);
    // The trimmed text cut or filled with dots to 13 characters.
    static std::string PadLabel(const std::string& text);
    // A node's label: its number, and " - " and its description when it has one.
    static std::string NodeLabel(int node);

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormHide() override;
    void FormActivate() override;
    void FormPaint() override;
    void FormResize() override;
    void FormKeyDown(uint16_t& Key, forms::TShiftState Shift) override;

private:
    void SBMonitorDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel, const forms::TRect& Rect);
    void TreeView1Change(forms::TTreeNode* Node);
    void TreeView1Editing(forms::TTreeNode* Node, bool& AllowEdit);
    void TreeView1Edited(forms::TTreeNode* Node, std::string& S);
    void ScrollMemo1Change();
    // Adds the members of a group under its head, each with its label and image 2; true when one
    // of them is the selected node.
    bool AddMembers(forms::TTreeNode* head, const uint8_t* members);
    // Gives the tree's current item back to the selected node after a rebuild (see BuildOperTree).
    void KeepSelection(forms::TTreeNode* node);
    void SetMemoCaret(int position);
    void DrawPictures();

    bool Rebuilding = false;
};

extern TTreeUIForm* TreeUIForm;
