// What the program's windows have in common: the caption, the title registration, fonts, the
// panel colour and the name bands, the three owner-drawn status panels (date, time, a message),
// and the refresh that works only while its window is in front.
#pragma once
#include <string>

#include "forms/ComCtrls.h"
#include "forms/Forms.h"
#include "forms/Graphics.h"

// Registers a string-table key with its default text in all four columns.
void RegisterDefault(const std::string& key, const std::string& text);
// "APPLICATION_TITLE" text, " - ", the window's title text.
std::string JoinedCaption(const std::string& titleKey);
// The text of a key; empty while the string table does not exist.
std::string AppText(const std::string& key);

// A font of the family; a negative height is the character height in pixels.
forms::TFont MakeFont(const char* name, int height, forms::TFontStyles style = 0,
                      forms::TColor color = forms::clWindowText);
// The light blue of the working windows' grids and status panels.
forms::TColor PanelColour();
// Makes the picture a band of that size and colour with the name centred in bold white Arial.
void DrawNameBand(forms::TBitmap& picture, int width, int height, forms::TColor colour, int fontHeight,
                  const std::string& name);
// The program's logo: its name on dark red.
void DrawLogo(forms::TBitmap& picture);

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
