#include "hosting/editor_hooks.h"

#include <initializer_list>

#include "common/module.h"
#include "hooks/hooks.h"

// The hook handles are kept on the container window, so that closing the viewer removes
// the hooks even when the editor survives its close request.
void InstallEditorHooks(HWND container, DWORD editorThread) {
    HHOOK keyboardHook = SetWindowsHookExW(WH_KEYBOARD, KeyboardHookProc, gModule, editorThread);
    HHOOK mouseHook = SetWindowsHookExW(WH_MOUSE, MouseHookProc, gModule, editorThread);
    SetPropW(container, kKeyboardHookProperty, keyboardHook);
    SetPropW(container, kMouseHookProperty, mouseHook);
}

void RemoveEditorHooks(HWND container) {
    for (const wchar_t* property : {kKeyboardHookProperty, kMouseHookProperty})
        if (HANDLE hook = RemovePropW(container, property))
            UnhookWindowsHookEx(static_cast<HHOOK>(hook));
}
