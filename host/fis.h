// Look-up of firmware-internal objects by symbol name (cached once found).
#pragma once

// The address of the running program's global symbol `name` (firmware-owned, never to be
// freed); null when it is missing, null itself, or `name` is null.
void *TryResolve(const char *name);
// Each: the object's address, kept once found; null while it cannot be found (looked up
// again on the next call).
void *FIS_vOsdMap();      // "_osdInfo": OSDRegionEntry table
void *FIS_vTAPTable();    // "_tapTask": TapTaskRecord table
void *FIS_vCurTapTask();  // "_curTapTask": int32_t index of the running module
