#include "Legend.h"

#include <algorithm>

#include "Msgui.h"
#include "Schedule.h"
#include "WindowCommon.h"
#include "forms/Dialogs.h"
#include "rtl/Files.h"
#include "rtl/Messages.h"

TLegendForm* LegendForm = nullptr;

namespace {
constexpr int kMaxColons = 100;
}

std::vector<std::string> LegendLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string text;
    bool marked = false;
    int colons = 0;
    for (const char c : bytes) {
        if (c == ':') {
            text.clear();
            marked = true;
            ++colons;
        } else if (c == '\n') {
            if (marked) lines.push_back(text);
            text.clear();
            marked = false;
            if (colons >= kMaxColons) return lines;
        } else if (c != '\r') {
            text += c;
        }
    }
    // A last line that no LF closes is shown as well.
    if (marked) lines.push_back(text);
    return lines;
}

TLegendForm::TLegendForm() : forms::TForm("LegendForm", 280, 480), MemoLegend(this, "MemoLegend") {
    SetBounds(321, 203, 280, 480);
    SetBorderIcons(false);
    SetStayOnTop(true);
    // Shown beside the log, it leaves the keyboard to the log.
    SetTakesFocus(false);
    SetFont(MakeFont("MS Sans Serif", -13));

    MemoLegend.SetBounds(8, 7, 256, 421);
    MemoLegend.SetReadOnly(true);
    MemoLegend.SetScrollBars(forms::TScrollStyle::ssVertical);
    MemoLegend.SetWordWrap(false);
    MemoLegend.SetFont(MakeFont("Verdana", -15, forms::fsBold));
    MemoLegend.SetColor(forms::clInactiveCaptionText);
    MemoLegend.AddLine("MemoLegend");
}

TLegendForm::~TLegendForm() {
    if (LegendForm == this) LegendForm = nullptr;
}

void TLegendForm::RegisterStrings() { RegisterDefault("LEGEND_TITLE", "LEGEND"); }

void TLegendForm::InvalidateCallback(void* data) { static_cast<TLegendForm*>(data)->Invalidate(); }

void TLegendForm::FormCreate() {
    RegisterStrings();
    if (InvalidateList) InvalidateList->push_back(TFuncPtr{&TLegendForm::InvalidateCallback, this});
}

void TLegendForm::FormShow() {
    SetCaption(AppText("LEGEND_TITLE"));
    LoadLegend();
}

void TLegendForm::FormResize() {
    MemoLegend.SetHeight(std::max(ClientHeight() - 14, 0));
    MemoLegend.SetWidth(std::max(ClientWidth() - 14, 0));
}

void TLegendForm::CloseRequested() {
    // The log's next F9 shows the legend again.
    if (MsgUIForm) MsgUIForm->LegendShown = 0;
    Hide();
}

void TLegendForm::LoadLegend() {
    const std::string path = BaseDir + "USR\\Legend.txt";
    const std::optional<std::string> bytes = rtl::ReadWholeFile(path);
    if (!bytes) {
        rtl::MessageBox(forms::FileNameText("File: " + rtl::NativePath(path) + "\r\nNot found"), "ATTENZIONE",
                        rtl::MB_OK);
        return;
    }
    MemoLegend.Clear();
    for (const std::string& line : LegendLines(*bytes)) MemoLegend.AddLine(line);
    Invalidate();
}
