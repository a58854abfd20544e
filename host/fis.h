// Look-up of firmware-internal objects by symbol name (cached once found).
#pragma once

void *TryResolve(const char *name);
void *FIS_vOsdMap();      // "_osdInfo": OSDRegionEntry table
void *FIS_vTAPTable();    // "_tapTask": TapTaskRecord table
void *FIS_vCurTapTask();  // "_curTapTask": int32_t index of the running module
