#include "hosting/viewer_close.h"

#include "common/editor_calls.h"
#include "common/module.h"
#include "common/text.h"
#include "hosting/container_window.h"
#include "hosting/editor_hooks.h"

// Phases of a close that goes on after ListCloseWindow, kept on the container.
enum ClosePhase : ULONG_PTR {
    kCloseNotAsked = 1,  // the editor did not answer at the close: it is asked once it answers again
    kCloseAsked = 2,     // WM_CLOSE has gone out; the editor settles
};

static void SetClosePhase(HWND container, ULONG_PTR phase) {
    SetPropW(container, kClosePhaseProperty, reinterpret_cast<HANDLE>(phase));
}

static ULONG_PTR ClosePhaseOf(HWND container) {
    return reinterpret_cast<ULONG_PTR>(GetPropW(container, kClosePhaseProperty));
}

// Times are compared as differences of GetTickCount values, which stay right across the
// counter's wrap after 49.7 days.
static void RestartSettleClock(HWND container) {
    SetPropW(container, kCloseClockProperty, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetTickCount())));
}

static DWORD SettledFor(HWND container) {
    return GetTickCount() - static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(GetPropW(container, kCloseClockProperty)));
}

// An editor that keeps its window after the close request (its user cancelled the save
// question) would end with the container and lose what was typed. It goes back to the
// desktop instead, as an ordinary window where the viewer was, with what embedding took
// away given back: frame, the default system menu and the menu-bar item 4109. It is done
// only after the editor answered throughout the settling time, so that a minimise request
// that may still be queued for it from CloseWindow was handled before SW_RESTORE.
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

// While the editor asks its user about the close ("save changes?"), the host waits for the
// answer as it would for the close itself: the question is owned by the window above the
// container, and destroying that under the question would take the user's choice away.
// Messages that the question sends to the host's windows meanwhile are answered.
static void WaitWhileEditorAsks(HWND container, HWND editor) {
    while (IsWindow(editor) && FindEditorDialog(container, editor) != nullptr &&
           AnswersWithin(editor, kEditorAnswerWaitMs)) {
        MSG pending;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kCloseLookMs, QS_SENDMESSAGE);
        PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Under a host main window (quick view) the editor is hidden first, so that it does not
// flash over the host while it minimises and closes.
static void AskEditorToClose(HWND container, HWND editor) {
    if (IsHostMainWindow(GetActiveWindow()))
        ShowWindow(editor, SW_HIDE);
    CloseWindow(editor);
    if (!SendMessageWithin(editor, WM_CLOSE, 0, 0, kEditorCloseWaitMs))
        WaitWhileEditorAsks(container, editor);
}

// A container that still holds the editor leaves the lister as a hidden top-level window,
// so that the host can destroy its window at once: destroying a window with a hung editor's
// window inside waits for that editor, while moving the plug-in's own window does not. It
// keeps its place on the screen, where a kept editor goes back to the desktop.
static void LeaveLister(HWND container) {
    RECT place;
    GetWindowRect(container, &place);
    ShowWindow(container, SW_HIDE);
    SetParent(container, nullptr);
    SetWindowLongPtrW(container, GWL_STYLE, WS_POPUP | WS_CLIPCHILDREN);
    SetWindowPos(container, nullptr, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CloseViewer(HWND container) {
    HWND editor = GetWindow(container, GW_CHILD);
    const bool answers = editor != nullptr && AnswersWithin(editor, kEditorAnswerWaitMs);
    if (answers)
        AskEditorToClose(container, editor);
    RemoveEditorHooks(container);
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryParentKey);
    if (GetWindow(container, GW_CHILD) == nullptr) {
        DestroyWindow(container);
        return;
    }
    // Whether the editor keeps its window is known only once it has settled: many end, or
    // destroy their window, a moment after WM_CLOSE returned. The container finishes then.
    KillTimer(container, kRefitTimer);
    LeaveLister(container);
    SetClosePhase(container, answers ? kCloseAsked : kCloseNotAsked);
    RestartSettleClock(container);
    SetTimer(container, kCloseTimer, kCloseLookMs, nullptr);
}

// The editor settles once it has answered, with no question about the close open, for the
// whole settling time; a hung editor is waited for as long as it takes, never terminated.
void ContinueClose(HWND container) {
    HWND editor = GetWindow(container, GW_CHILD);
    if (editor == nullptr) {
        DestroyWindow(container);
        return;
    }
    if (!AnswersWithin(editor, kEditorGlanceMs) || FindEditorDialog(container, editor) != nullptr) {
        RestartSettleClock(container);
        return;
    }
    if (ClosePhaseOf(container) == kCloseNotAsked) {
        // Asked only now that it answers, and posted: it is asked once, and the host does
        // not wait on it from a timer.
        PostMessageW(editor, WM_CLOSE, 0, 0);
        SetClosePhase(container, kCloseAsked);
        RestartSettleClock(container);
        return;
    }
    if (SettledFor(container) < kEditorSettleMs)
        return;
    ReleaseEditorToDesktop(container, editor);
    DestroyWindow(container);
}

// The host destroyed the lister window without closing the viewer (a file manager that
// quits does): the editor, still inside, is moved into a hidden window of the plug-in's
// own before it would be destroyed with the container, and closed from there, so that it
// can ask about unsaved text. An editor that does not answer cannot be moved without waiting
// for it; it goes with the container.
void OnContainerDestroyed(HWND container) {
    KillTimer(container, kCloseTimer);
    KillTimer(container, kRefitTimer);
    const bool closing = RemovePropW(container, kClosePhaseProperty) != nullptr;
    RemovePropW(container, kCloseClockProperty);
    HWND editor = GetWindow(container, GW_CHILD);
    if (closing || editor == nullptr || !AnswersWithin(editor, kEditorAnswerWaitMs))
        return;
    RECT place;
    GetWindowRect(container, &place);
    HWND holder = CreateWindowExW(0, kEditorClass, L"", WS_POPUP | WS_CLIPCHILDREN, place.left, place.top,
                                  place.right - place.left, place.bottom - place.top, nullptr, nullptr, gModule,
                                  nullptr);
    if (holder == nullptr)
        return;
    SetParent(editor, holder);
    MoveEditorHooks(container, holder);
    CloseViewer(holder);
}
