#include "common/names.h"
#include "common/text.h"
#include "hooks/dialog_dismissal.h"
#include "hooks/hooks.h"

// For a control of an editor dialog this is the editor main window; when the target's
// grandparent is a host main window, its first child stands in, so that the outer root
// window is the host main window itself.
static HWND AnchorWindow(HWND target) {
    HWND anchor = GetParent(GetParent(target));
    return IsHostMainWindow(anchor) ? GetWindow(anchor, GW_CHILD) : anchor;
}

// A release of the left button in an editor dialog answers it as Enter does.
static void OnLeftButtonUp(const MOUSEHOOKSTRUCT& data) {
    if (data.dwExtraInfo == kSyntheticClickMark)
        return;  // the release of the hooks' own click: dismissing again would click again, without end
    if (IsKeyDown(GetAsyncKeyState(VK_LBUTTON)))
        return;
    if (!ClassNameIs(GetActiveWindow(), kDialogClass) || !WindowTextIs(GetActiveWindow(), kEditorDialogTitle))
        return;
    DismissEditorDialog(AnchorWindow(data.hwnd), nullptr);
}

LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == WM_LBUTTONUP)
        OnLeftButtonUp(*reinterpret_cast<const MOUSEHOOKSTRUCT*>(lParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
