#include "common/module.h"
#include "hosting/viewer_close.h"
#include "lister/exports.h"

void WINAPI ListCloseWindow(HWND container) {
    gText[0] = L'\0';
    CloseViewer(container);
}
