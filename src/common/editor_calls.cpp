#include "common/editor_calls.h"

// Not SMTO_BLOCK: while it handles the message the editor may itself send to the host's
// windows (its window is joined to the lister's), and those sends must be answered.
bool SendMessageWithin(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam, UINT timeoutMs) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(wnd, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, timeoutMs, &result) != 0;
}

bool AnswersWithin(HWND wnd, UINT timeoutMs) {
    return SendMessageWithin(wnd, WM_NULL, 0, 0, timeoutMs);
}
