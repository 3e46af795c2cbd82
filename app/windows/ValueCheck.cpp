#include "app/windows/ValueCheck.h"

#include <algorithm>
#include <cmath>

#include "app/core/Fancoil.h"
#include "app/core/ScheduleHelpers.h"
#include "rtl/NumberText.h"

namespace {

constexpr uint8_t kZem = 127;
constexpr uint8_t kKindAnalog = 2, kKindInteger = 3;

double Scale(uint8_t NumDec) { return std::pow(10.0, NumDec); }

bool InRange(std::optional<int16_t> x, int32_t min, int32_t max) { return x && min <= *x && *x <= max; }

TValueVerdict Accept(int16_t v, uint8_t kind) { return {true, v, kind, {}}; }
TValueVerdict Refuse(std::string_view text) { return {false, 0, 0, text}; }

// The row's own range: the value is written, or refused as out of range.
TValueVerdict OwnRange(std::optional<int16_t> v, const TUIWinDefRow& row, uint8_t kind) {
    return InRange(v, row.Min, row.Max) ? Accept(*v, kind) : Refuse(kValueOutOfRange);
}

// Parameters 34 to 43 under the set-point modes: M = 5 takes v as a set point, M = 6 as an
// offset to the node's set point S; both must stay within the "SETPOINT" row's range.
// Without a "SETPOINT" row the row's own range holds.
TValueVerdict SetPointRange(std::optional<int16_t> v, const TUIWinDefRow& row, const TUIWinDefRow* setPoint,
                            const TNodeMode& mode) {
    if (!setPoint) return OwnRange(v, row, kKindInteger);
    std::optional<int16_t> tested = v;
    if (mode.M == 6 && v) tested = int16_t(mode.S + *v);
    return InRange(tested, setPoint->Min, setPoint->Max) ? Accept(*v, kKindInteger) : Refuse(kValueOutOfRange);
}

bool IsSetPointMode(const TNodeMode& mode) { return mode.M == 5 || mode.M == 6; }

}  // namespace

TNodeMode ReadNodeMode(const TFancoil& model, uint8_t node) {
    return {model.ReadInteger(23, node) != 0, model.ReadInteger(21, node), model.ReadInteger(1, node)};
}

const TUIWinDefRow* FindSetPointRow(const TUIWinDefRows& rows) {
    for (size_t i = 0; i < rows.Count(); ++i)
        if (rows.Row(i).Name == "SETPOINT") return &rows.Row(i);
    return nullptr;
}

std::optional<std::string> EditInitialText(const TUIWinDefRow& row, int raw) {
    const double s = Scale(row.NumDec);
    if (row.Type == 'A') return rtl::FormatC("%.*f", row.NumDec, raw / s);
    if (row.Type != 'I') return std::nullopt;
    const int16_t v = int16_t(raw);
    if (row.NumDec == 0) return std::to_string(v);
    return rtl::FormatC("%6.*f", row.NumDec, v / s);
}

std::optional<int16_t> EnteredValue(std::string_view text, uint8_t NumDec) {
    // The canonical text carries the locale's decimal separator; it is read back with that one.
    std::optional<std::string> t = ValueTextFromInput(text, NumDec);
    if (!t) return std::nullopt;
    std::replace(t->begin(), t->end(), rtl::LocaleDecimalPoint(), '.');
    const double y = rtl::ParseDouble(*t).value_or(0) * Scale(NumDec);
    const double r = y > 0 ? std::trunc(y + 0.5) : std::trunc(y - 0.5);
    if (!(r >= -32768.0 && r <= 32767.0)) return std::nullopt;
    return int16_t(r);
}

TValueVerdict CheckValue(std::optional<int16_t> v, const TUIWinDefRow& row, const TUIWinDefRow* setPoint,
                         uint8_t node, const TNodeMode& mode) {
    if (row.Type == 'A') return OwnRange(v, row, kKindAnalog);
    if (row.Type != 'I') return {};
    if (node == kZem) return OwnRange(v, row, kKindInteger);
    const uint8_t a = row.Address;
    const bool parameter34To43 = a >= 34 && a <= 43;
    if (mode.FcM) {
        if (a == 18) {
            if (!InRange(v, row.Min, row.Max)) return Refuse(kValueOutOfRange);
            return *v == 1 ? Refuse(kNotSettableOnFcM) : Accept(*v, kKindInteger);
        }
        if (a == 14 || a == 21 || (a >= 24 && a <= 33)) return Refuse(kNotSettableOnFcM);
        if (parameter34To43)
            return IsSetPointMode(mode) ? SetPointRange(v, row, setPoint, mode) : Refuse(kNotSettableOnFcM);
        return OwnRange(v, row, kKindInteger);
    }
    if (parameter34To43 && IsSetPointMode(mode)) return SetPointRange(v, row, setPoint, mode);
    return OwnRange(v, row, kKindInteger);
}

TValueVerdict CheckEntry(std::string_view text, const TUIWinDefRow& row, const TUIWinDefRow* setPoint,
                         uint8_t node, const TNodeMode& mode) {
    // Read as 0, an entry that is no number would be written as a typed 0.
    if ((row.Type == 'A' || row.Type == 'I') && !ValueTextFromInput(text, row.NumDec)) return Refuse(kValueNotValid);
    return CheckValue(EnteredValue(text, row.NumDec), row, setPoint, node, mode);
}
