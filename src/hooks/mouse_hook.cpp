#include "common/names.h"
#include "common/text.h"
#include "hooks/dialog_dismissal.h"
#include "hooks/hooks.h"

// The system makes the top-level window above the embedded editor the owner of the
// editor's dialogs: the lister window in lister mode, the host main window in quick view.
// For a control of such a dialog that window is the anchor, and its first child stands in
// for it, so that the outer root window is that window itself.
static HWND AnchorWindow(HWND target) {
    HWND anchor = GetParent(GetParent(target));
    return GetAncestor(anchor, GA_ROOT) == anchor ? GetWindow(anchor, GW_CHILD) : anchor;
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
