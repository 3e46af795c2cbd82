#include "WindowCommon.h"

#include <charconv>

#include "AppStrings.h"
#include "Schedule.h"
#include "ScheduleHelpers.h"

void RegisterDefault(const std::string& key, const std::string& text) {
    if (AppStr) AppStr->Register(key, text, text, text, text);
}

std::string AppText(const std::string& key) { return AppStr ? AppStr->GetString(key) : std::string(); }

std::string JoinedCaption(const std::string& titleKey) {
    return AppText("APPLICATION_TITLE") + " - " + AppText(titleKey);
}

forms::TFont MakeFont(const char* name, int height, forms::TFontStyles style, forms::TColor color) {
    forms::TFont font;
    font.Name = name;
    font.Height = height;
    font.Style = style;
    font.Color = color;
    return font;
}

forms::TColor PanelColour() { return PerMilleRGB(816, 816, 1000); }

void DrawNameBand(forms::TBitmap& picture, int width, int height, forms::TColor colour, int fontHeight,
                  const std::string& name) {
    picture.SetSize(width, height);
    forms::TCanvas& c = picture.Canvas();
    c.Brush.Color = colour;
    c.FillRect({0, 0, width, height});
    c.Font = MakeFont("Arial", fontHeight, forms::fsBold, forms::clWhite);
    c.TextOut((width - c.TextWidth(name)) / 2, (height - c.TextHeight(name)) / 2, name);
}

void DrawLogo(forms::TBitmap& picture) { DrawNameBand(picture, 100, 40, MakeRGB(176, 0, 0), -20, "TELVOX"); }

void InitStatusPanels(forms::TStatusBar& bar) {
    bar.Panels = {{"1", 100, true}, {"2", 100, true}, {"3", 50, true}};
}

const std::string& PanelText(const forms::TStatusPanel& panel, const std::string& date,
                             const std::string& time, const std::string& status) {
    static const std::string none;
    int which = 0;
    const char* end = panel.Text.data() + panel.Text.size();
    if (std::from_chars(panel.Text.data(), end, which).ptr != end) which = 0;
    switch (which) {
        case 1: return date;
        case 2: return time;
        case 3: return status;
        default: return none;
    }
}

void DrawStatusPanel(forms::TStatusBar& bar, const forms::TRect& rect, forms::TColor colour,
                     const forms::TFont& font, const std::string& text) {
    forms::TBitmap bitmap(rect.Width(), rect.Height());
    forms::TCanvas& canvas = bitmap.Canvas();
    canvas.Font = font;
    canvas.Brush.Color = colour;
    canvas.FillRect({0, 0, bitmap.Width(), bitmap.Height()});
    // Centred; a text wider than the panel starts left of it.
    const int x = (bitmap.Width() - canvas.TextWidth(text)) / 2;
    const int y = (bitmap.Height() - canvas.TextHeight(text)) / 2;
    canvas.TextOut(x, y, text);
    bar.Canvas().Draw(rect.Left, rect.Top, bitmap);
}

bool IsActiveWindow(const forms::TForm& form) {
    const forms::TForm* active = forms::Application ? forms::Application->ActiveForm() : nullptr;
    return active && active->Name == form.Name;
}

bool TakeDateTime(std::string& dateShown, std::string& timeShown) {
    std::string date = DateText.Get();
    std::string time = TimeText.Get();
    if (date == dateShown && time == timeShown) return false;
    dateShown = std::move(date);
    timeShown = std::move(time);
    return true;
}
