#include "hooks/dialog_dismissal.h"

#include "common/names.h"
#include "common/text.h"

// Injected button events name the physical buttons: with the buttons swapped the primary
// one is the physical right button.
void ClickAtPointer() {
    const bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    mouse_event(swapped ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN, 0, 0, 0, kSyntheticClickMark);
    mouse_event(swapped ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP, 0, 0, 0, kSyntheticClickMark);
}

// The lister window in lister mode, the host main window in quick view.
static HWND OuterRootWindow(HWND anchor) {
    return GetAncestor(GetParent(anchor), GA_ROOT);
}

// Under FreeCommander XE there is no "TTOTAL_CMD" window; its own main window then
// takes the user back.
static HWND FindHostMainWindow() {
    HWND host = FindWindowW(kTotalCommanderClass, nullptr);
    return host != nullptr ? host : FindWindowW(kFreeCommanderClass, nullptr);
}

HWND DismissEditorDialog(HWND anchor, HWND focusRoot) {
    ClickAtPointer();
    if (GetWindowLongW(GetFocus(), GWL_ID) != kDismissingControlId)
        return focusRoot;
    if (IsHostMainWindow(OuterRootWindow(anchor))) {
        PostMessageW(GetActiveWindow(), WM_CLOSE, 0, 0);
        SetForegroundWindow(OuterRootWindow(anchor));
        SetFocus(OuterRootWindow(anchor));
        return focusRoot;
    }
    // Closed synchronously, so that the lister asked to close next no longer owns a dialog.
    SendMessageW(GetActiveWindow(), WM_CLOSE, 0, 0);
    PostMessageW(OuterRootWindow(anchor), WM_CLOSE, 0, 0);
    HWND host = FindHostMainWindow();
    SetForegroundWindow(host);
    SetFocus(host);
    return host;
}
