#include "common/editor_calls.h"
#include "common/names.h"
#include "hosting/process_windows.h"
#include "lister/exports.h"

// The host waits while the editor handles the command, as long as the editor answers;
// a hung editor gets nothing and the host its thread back at once.
static int SendEditorCommand(HWND editor, WPARAM command) {
    return SendMessageWithin(editor, WM_COMMAND, command, 0, kEditorCommandWaitMs) ? kListerOk : kListerError;
}

int WINAPI ListSearchTextW(HWND container, wchar_t* searchString, int searchParameter) {
    HWND editor = EmbeddedEditor(container);
    if (editor == nullptr)
        return kListerError;
    if (SendEditorCommand(editor, searchParameter != 0 ? kCmdSearchWithFlags : kCmdSearchNoFlags) != kListerOk)
        return kListerError;  // without its search window open, the text would land elsewhere
    // The search command leaves the editor's search window active; the field that takes
    // the text is the first child of its first child.
    HWND searchField = GetWindow(GetWindow(GetActiveWindow(), GW_CHILD), GW_CHILD);
    SendMessageWithin(searchField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(searchString), kEditorCommandWaitMs);
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
    HWND editor = EmbeddedEditor(container);
    if (editor == nullptr)
        return kListerError;
    return SendEditorCommand(editor, kCmdPrint);  // the editor chooses printer, margins and options itself
}

int WINAPI ListSendCommand(HWND container, int command, int) {
    HWND editor = EmbeddedEditor(container);
    if (editor == nullptr)
        return kListerError;
    switch (command) {
    case kHostCmdCopy:
        return SendEditorCommand(editor, kCmdCopy);
    case kHostCmdSelectAll:
        return SendEditorCommand(editor, kCmdSelectAll);
    default:
        return kListerError;
    }
}
