// The older unit-based interface: callers address devices by unit number; a unit table loaded from
// the node-description file translates units into nodes.
#pragma once
#include <cstdint>

constexpr int UnitTableSize = 192;  // nodes 0..191
// Unit number of each node, 0 when none; filled by InitDriverEx, never cleared.
extern uint16_t UnitTable[UnitTableSize];
// The line whose units InitDriverEx takes from the node-description file.
extern uint8_t LineNumber;

// The lowest node 1..191 that holds the unit; 0 when none does.
uint8_t UnitToNode(uint16_t unit);

// InitDriverEx results besides 0 and those of _CreateCANThread (1, 2, 3).
enum : int16_t {
    InitNodeFileMissing = 11,
    InitNoLine = 12,
    InitBadUnitLine = 13,  // a unit line whose numbers do not read as decimal numbers
    InitLogEnabledMissing = 81,
    InitLogDurationInvalid = 82,
    InitModeNotSupported = 98,
    InitSettingsMissing = 99,
};
