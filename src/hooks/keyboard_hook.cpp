#include "common/names.h"
#include "common/text.h"
#include "hooks/dialog_dismissal.h"
#include "hooks/hooks.h"

static constexpr LRESULT kSwallow = 1;

static LRESULT PassOn(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

static bool IsHandOverClass(HWND wnd) {
    ReadClassName(wnd);
    for (const wchar_t* name : kHandOverClasses)
        if (TextIs(name))
            return true;
    return false;
}

// Ctrl+Tab: to the host side, the first child of the top-level window above the editor.
static void FocusFirstChildOf(HWND focusRoot) {
    if (!IsKeyDown(GetKeyState(VK_CONTROL)))
        return;
    SetForegroundWindow(GetWindow(focusRoot, GW_CHILD));
    SetFocus(GetWindow(focusRoot, GW_CHILD));
}

// While the focus is on one of the host's windows, its keys go to the top-level window
// as a fresh key press.
static void HandOverKey(HWND focusRoot, BYTE key) {
    if (!IsHandOverClass(GetFocus()))
        return;
    SetForegroundWindow(focusRoot);
    SetFocus(focusRoot);
    // The fresh press goes to whatever has the focus now. Should that again be such a
    // window of this thread, the press would set off the hand-over anew, without end.
    HWND receiver = GetFocus();
    if (GetWindowThreadProcessId(receiver, nullptr) == GetCurrentThreadId() && IsHandOverClass(receiver))
        return;
    keybd_event(key, 0, 0, 0);
}

// N and P only go to a host whose menu bar holds more than seven items.
static void HandOverMenuKey(HWND focusRoot, BYTE key) {
    if (IsKeyDown(GetKeyState(key)) && GetMenuItemCount(GetMenu(focusRoot)) > kHandOverMenuItems)
        HandOverKey(focusRoot, key);
}

// F4 is the editor's command, never a key; Ctrl+F4 is dropped.
static void OnF4(HWND focusParent) {
    if (!IsKeyDown(GetKeyState(VK_CONTROL)) && IsKeyDown(GetKeyState(VK_F4)))
        SendMessageW(focusParent, WM_COMMAND, kCmdF4, 0);
}

// Enter held in an editor message dialog answers it. Returns the focus root from here on.
static HWND AnswerEditorDialog(HWND focusRoot) {
    if (!IsKeyDown(GetAsyncKeyState(VK_RETURN)))
        return focusRoot;
    if (!ClassNameIs(focusRoot, kDialogClass) || !WindowTextIs(GetActiveWindow(), kEditorDialogTitle))
        return focusRoot;
    return DismissEditorDialog(focusRoot, focusRoot);
}

// Esc held: a click in a dialog, nothing under a host main window (quick view), and a
// close request to a stand-alone lister, while the key still reaches the editor.
static LRESULT EscapeStep(HWND focusRoot, int code, WPARAM wParam, LPARAM lParam) {
    if (!IsKeyDown(GetAsyncKeyState(VK_ESCAPE)))
        return PassOn(code, wParam, lParam);
    ReadClassName(focusRoot);
    if (TextIs(kDialogClass)) {
        ClickAtPointer();
        return PassOn(code, wParam, lParam);
    }
    if (TextIsHostMainClass())
        return kSwallow;
    PostMessageW(focusRoot, WM_CLOSE, 0, 0);
    return PassOn(code, wParam, lParam);
}

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) {
    HWND focusParent = GetParent(GetFocus());
    HWND focusRoot = GetAncestor(focusParent, GA_ROOT);
    if (code != HC_ACTION)
        return PassOn(code, wParam, lParam);
    switch (wParam) {
    case VK_TAB:
        FocusFirstChildOf(focusRoot);
        return PassOn(code, wParam, lParam);
    case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8':
        HandOverKey(focusRoot, static_cast<BYTE>(wParam));
        return PassOn(code, wParam, lParam);
    case 'N':
    case 'P':
        HandOverMenuKey(focusRoot, static_cast<BYTE>(wParam));
        return PassOn(code, wParam, lParam);
    case VK_F4:
        OnF4(focusParent);
        return kSwallow;
    case 'W':
        if (IsKeyDown(GetKeyState(VK_CONTROL)))
            return kSwallow;
        [[fallthrough]];
    case VK_RETURN:
        if (IsKeyDown(GetKeyState(VK_MENU)))
            return kSwallow;
        return EscapeStep(AnswerEditorDialog(focusRoot), code, wParam, lParam);
    case VK_ESCAPE:
        return EscapeStep(focusRoot, code, wParam, lParam);
    default:
        return PassOn(code, wParam, lParam);
    }
}
