#include "hosting/process_windows.h"

#include "common/names.h"

HWND NextWindowOfProcess(const wchar_t* className, DWORD processId, HWND after) {
    for (HWND wnd = FindWindowExW(nullptr, after, className, nullptr); wnd != nullptr;
         wnd = FindWindowExW(nullptr, wnd, className, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(wnd, &owner);
        if (owner == processId)
            return wnd;
    }
    return nullptr;
}

HWND VisibleWindowOfProcess(const wchar_t* className, DWORD processId) {
    for (HWND wnd = NextWindowOfProcess(className, processId, nullptr); wnd != nullptr;
         wnd = NextWindowOfProcess(className, processId, wnd))
        if (IsWindowVisible(wnd))
            return wnd;
    return nullptr;
}

// The editor main window lies in a holder of the plug-in's own between it and the container:
// when the host destroys the lister window, the holder, with the editor inside, can be taken
// out of it without waiting for the editor, which moving the editor's own window would.
HWND EmbeddedEditor(HWND container) {
    return GetWindow(GetWindow(container, GW_CHILD), GW_CHILD);
}

// An open dialog of the embedded editor: visible, of the editor's process, and owned by the
// editor main window or, as the system arranges for a child's dialogs, by the top-level
// window above the container. Another process's dialog, another viewer's included, is not.
HWND FindEditorDialog(HWND container, HWND editor) {
    DWORD editorProcess = 0;
    GetWindowThreadProcessId(editor, &editorProcess);
    HWND root = GetAncestor(container, GA_ROOT);
    for (HWND dialog = NextWindowOfProcess(kDialogClass, editorProcess, nullptr); dialog != nullptr;
         dialog = NextWindowOfProcess(kDialogClass, editorProcess, dialog)) {
        HWND owner = GetWindow(dialog, GW_OWNER);
        if (IsWindowVisible(dialog) && (owner == editor || owner == root))
            return dialog;
    }
    return nullptr;
}
