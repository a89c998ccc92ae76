#include <windows.h>

#include "common/module.h"

// Runs in the host and, once the hooks are installed, in the editor process: each
// mapping records its own instance handle and does nothing else.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        gModule = instance;
    return TRUE;
}
