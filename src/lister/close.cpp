#include "common/module.h"
#include "common/text.h"
#include "hosting/editor_hooks.h"
#include "lister/exports.h"

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
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryParentKey);
    DestroyWindow(container);
}
