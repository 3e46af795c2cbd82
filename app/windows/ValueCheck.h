// The parameter edit without its dialog: the text a row opens with, the conversion of the entered
// text into the 16-bit value the node takes, and its validation against the row's limits, the
// node's FcM mode and the "SETPOINT" row.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/UIFile.h"

class TFancoil;

inline constexpr std::string_view kValueOutOfRange = "VALORE FUORI RANGE";
inline constexpr std::string_view kNotSettableOnFcM = "ESCI: non impostabile su FcM";
inline constexpr std::string_view kValueNotValid = "VALORE NON VALIDO!";

// What the validation reads of the node, at the moment it validates.
struct TNodeMode {
    bool FcM = false;  // integer 23 non-zero
    int M = 0;         // integer 21
    int S = 0;         // integer 1, the node's set point
};
TNodeMode ReadNodeMode(const TFancoil& model, uint8_t node);

// The first row of the list named exactly "SETPOINT", or null.
const TUIWinDefRow* FindSetPointRow(const TUIWinDefRows& rows);

// The text the edit field opens with, from the node's raw value of the row (ReadAnalog for 'A'
// rows, ReadInteger for 'I' rows); nullopt for any other type (the previous text stays).
std::optional<std::string> EditInitialText(const TUIWinDefRow& row, int raw);

// The entered text scaled by 10^NumDec and rounded half away from zero; nullopt when the text is
// no number or the result does not fit a signed 16-bit value (outside every range).
std::optional<int16_t> EnteredValue(std::string_view text, uint8_t NumDec);

// Outcome of one entry: the value to write with its kind, or the refusal text. A row of a type
// other than 'A' and 'I' is neither written nor refused: the edit just ends.
struct TValueVerdict {
    bool Accepted = false;
    int16_t Value = 0;
    uint8_t Kind = 0;            // 2 analog, 3 integer
    std::string_view Refusal;    // empty unless refused
};

// Validates v for the row of the node (node 127: a "[ZEM]" row). setPoint is the "SETPOINT" row of
// the device rows, or null when there is none: v is then tested against the row's own range where
// the set-point modes would test it against the set-point range.
TValueVerdict CheckValue(std::optional<int16_t> v, const TUIWinDefRow& row, const TUIWinDefRow* setPoint,
                         uint8_t node, const TNodeMode& mode);
// EnteredValue and CheckValue in one; an entry that is no number is refused as not valid.
TValueVerdict CheckEntry(std::string_view text, const TUIWinDefRow& row, const TUIWinDefRow* setPoint,
                         uint8_t node, const TNodeMode& mode);
