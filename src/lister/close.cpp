#include "common/module.h"
#include "common/text.h"
#include "hosting/editor_hooks.h"
#include "lister/exports.h"

// An editor that keeps its window after the close request (its user cancelled the save
// question) would end with the container and lose what was typed. It goes back to the
// desktop instead, as an ordinary window where the viewer was, with what embedding took
// away given back: frame, the default system menu and the menu-bar item 4109.
static void ReleaseEditorToDesktop(HWND container, HWND editor) {
    RECT place;
    GetWindowRect(container, &place);
    SetParent(editor, nullptr);
    // The state bits stay, so that SW_RESTORE sees the hiding and minimising it must undo.
    const LONG_PTR state = GetWindowLongPtrW(editor, GWL_STYLE) & (WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
    SetWindowLongPtrW(editor, GWL_STYLE, WS_OVERLAPPEDWINDOW | state);
    GetSystemMenu(editor, TRUE);
    EnableMenuItem(GetMenu(editor), kCmdMenuItemToDisable, MF_BYCOMMAND | MF_ENABLED);
    ShowWindow(editor, SW_RESTORE);
    SetWindowPos(editor, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOZORDER | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
    SetForegroundWindow(editor);
}

void WINAPI ListCloseWindow(HWND container) {
    HWND editor = GetWindow(container, GW_CHILD);
    gText[0] = L'\0';
    // Under a host main window (quick view) the editor is hidden first, so that it does
    // not flash over the host while it minimises and closes.
    if (IsHostMainWindow(GetActiveWindow()))
        ShowWindow(editor, SW_HIDE);
    CloseWindow(editor);
    SendMessageW(editor, WM_CLOSE, 0, 0);
    RemoveEditorHooks(container);
    if (IsWindow(editor))
        ReleaseEditorToDesktop(container, editor);
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryParentKey);
    DestroyWindow(container);
}
