// The board registry library, loaded by name only for a board set-up and released right after.
// Reference counted: a load while it is held adds a holder and reports failure.
#pragma once
#include "registry/Xat11reg.h"

bool LoadBoardRegistry();
// True when the library was released (or was not held); false while other holders remain.
bool UnloadBoardRegistry();

// Entry points of the loaded registry; null while it is not held.
struct TBoardRegistry {
    PF_XAT_EnumHwEntry EnumHwEntry = nullptr;
    PF_XAT_GetConfig GetConfig = nullptr;
};
extern TBoardRegistry BoardRegistry;
// Resolves every registry function the set-up requires; false when one is missing.
bool ResolveBoardRegistry();

// What XAT_GetConfig filled for the board to take; kept between set-ups.
extern XATxxReg BoardConfig;
