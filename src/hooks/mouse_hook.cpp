#include "common/names.h"
#include "common/text.h"
#include "hooks/dialog_dismissal.h"
#include "hooks/hooks.h"

// The system makes the top-level window above the embedded editor the owner of the
// editor's dialogs: the lister window in lister mode, the host main window in quick view.
// Wherever in a dialog the release lands, the dialog is its root and the anchor, so that
// the outer root window is that owner. An unowned root (the release aimed outside a
// dialog) has its first child stand in, so that the outer root window is the root itself.
static HWND AnchorWindow(HWND target) {
    HWND root = GetAncestor(target, GA_ROOT);
    return GetParent(root) != nullptr ? root : GetWindow(root, GW_CHILD);
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
