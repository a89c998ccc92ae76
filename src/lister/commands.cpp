#include "common/names.h"
#include "lister/exports.h"

static HWND FindEditorWindow(HWND container) {
    return FindWindowExW(container, nullptr, nullptr, nullptr);
}

static void SendEditorCommand(HWND editor, WPARAM command) {
    SendMessageW(editor, WM_COMMAND, command, 0);
}

int WINAPI ListSearchTextW(HWND container, wchar_t* searchString, int searchParameter) {
    if (FindEditorWindow(container) == nullptr)
        return kListerError;
    SendEditorCommand(GetWindow(container, GW_CHILD), searchParameter != 0 ? kCmdSearchWithFlags : kCmdSearchNoFlags);
    // The search command leaves the editor's search window active; the field that takes
    // the text is the first child of its first child.
    HWND searchField = GetWindow(GetWindow(GetActiveWindow(), GW_CHILD), GW_CHILD);
    SendMessageW(searchField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(searchString));
    return kListerOk;
}

int WINAPI ListSearchText(HWND container, char* searchString, int searchParameter) {
    wchar_t wideText[kPathChars] = {};
    // A text that does not fit converts to nothing; searching for a cut-short text
    // would find the wrong places.
    if (MultiByteToWideChar(CP_ACP, 0, searchString, -1, wideText, kPathChars) == 0)
        return kListerError;
    return ListSearchTextW(container, wideText, searchParameter);
}

int WINAPI ListPrint(HWND container, char*, char*, int, RECT*) {
    HWND editor = FindEditorWindow(container);
    if (editor == nullptr)
        return kListerError;
    SendEditorCommand(editor, kCmdPrint);  // the editor chooses printer, margins and options itself
    return kListerOk;
}

int WINAPI ListSendCommand(HWND container, int command, int) {
    HWND editor = FindEditorWindow(container);
    if (editor == nullptr)
        return kListerError;
    switch (command) {
    case kHostCmdCopy:
        SendEditorCommand(editor, kCmdCopy);
        return kListerOk;
    case kHostCmdSelectAll:
        SendEditorCommand(editor, kCmdSelectAll);
        return kListerOk;
    default:
        return kListerError;
    }
}
