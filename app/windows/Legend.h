// The legend beside the message log: a small stay-on-top window that shows, read-only, the texts
// of "USR\Legend.txt", reloaded each time it is shown. The log shows and hides it; it takes no keys
// and has no refresh of its own.
#pragma once
#include <string>
#include <vector>

#include "forms/Forms.h"
#include "forms/StdCtrls.h"

class TLegendForm : public forms::TForm {
public:
    TLegendForm();
    ~TLegendForm() override;

    forms::TMemo MemoLegend;

    static void RegisterStrings();
    // The legend's entry in InvalidateList; data is the form.
    static void InvalidateCallback(void* data);

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormResize() override;
    // The window manager's close button hides the legend as F9 of the log does.
    void CloseRequested() override;

private:
    void LoadLegend();
};

// The lines the legend shows for the bytes of a legend file: of each line holding a ":" the text
// after its last ":", exactly as written; lines without one give nothing. Reading ends after the
// line in which the hundredth ":" stands.
std::vector<std::string> LegendLines(const std::string& bytes);

extern TLegendForm* LegendForm;
