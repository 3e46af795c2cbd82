// What the program's windows have in common: the caption, the title registration, the three
// owner-drawn status panels (date, time, a message), and the refresh that works only while its
// window is in front.
#pragma once
#include <string>

#include "forms/ComCtrls.h"
#include "forms/Forms.h"

// Registers a string-table key with its default text in all four columns.
void RegisterDefault(const std::string& key, const std::string& text);
// "APPLICATION_TITLE" text, " - ", the window's title text.
std::string JoinedCaption(const std::string& titleKey);
// The text of a key; empty while the string table does not exist.
std::string AppText(const std::string& key);

// Three owner-drawn panels with the texts "1", "2", "3" and widths 100, 100, 50.
void InitStatusPanels(forms::TStatusBar& bar);
// The panel's text selects what it shows: "1" the date, "2" the time, "3" the message.
const std::string& PanelText(const forms::TStatusPanel& panel, const std::string& date,
                             const std::string& time, const std::string& status);
// The text centred on the panel's colour, in the window's font, drawn through an off-screen bitmap.
void DrawStatusPanel(forms::TStatusBar& bar, const forms::TRect& rect, forms::TColor colour,
                     const forms::TFont& font, const std::string& text);

// Whether the window is the active form (the refresh callbacks' gate).
bool IsActiveWindow(const forms::TForm& form);
// Copies the shared date and time when either changed; true then, and the bar needs a repaint.
bool TakeDateTime(std::string& dateShown, std::string& timeShown);
