// The teardown half shared by the info box and the message box.
#pragma once

// Puts the saved pixels back into the region they came from (menu or adopted region), releases
// them and ends the adoption of MyOSDRgn. Nothing happens when no block is held.
void OSDReleaseSaveArea();
