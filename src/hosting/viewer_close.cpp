#include "hosting/viewer_close.h"

#include "common/editor_calls.h"
#include "common/module.h"
#include "common/text.h"
#include "common/waits.h"
#include "hosting/editor_hooks.h"
#include "hosting/process_windows.h"

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

// Where the editor of a close in progress is: inside the container, or on the desktop once it
// has left (its window is kept on the container, as long as it exists).
static HWND EditorOfClose(HWND container) {
    if (HWND inside = EmbeddedEditor(container))
        return inside;
    HWND released = static_cast<HWND>(GetPropW(container, kReleasedEditorProperty));
    return released != nullptr && IsWindow(released) ? released : nullptr;
}

// An editor that keeps its window after the close request (its user cancelled the save
// question) must not depend on the host living on: the host may destroy the lister window or
// end at any moment after, and every window of its process goes then, with whatever is
// inside. So the editor's window leaves the host's windows at once, as an ordinary window
// where the viewer was, with what embedding took away given back (frame, the default system
// menu, the menu-bar item 4109), but minimised and not activated: on the taskbar, where the
// user finds it, and never in front, so that an editor that destroys its window a moment later
// has not been shown. It is placed while hidden and neither minimised nor maximised, so that
// restoring it brings it back to that place, and below the other windows, so that a window
// the host destroys meanwhile hands the activation to another one first (Wine activates a
// minimised window next as readily as any other).
static void ReleaseEditorMinimised(HWND container, HWND editor) {
    RECT place;
    GetWindowRect(container, &place);
    ShowWindow(editor, SW_HIDE);
    SetParent(editor, nullptr);
    SetWindowLongPtrW(editor, GWL_STYLE, WS_OVERLAPPEDWINDOW);
    GetSystemMenu(editor, TRUE);
    EnableMenuItem(GetMenu(editor), kCmdMenuItemToDisable, MF_BYCOMMAND | MF_ENABLED);
    SetWindowPos(editor, HWND_BOTTOM, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOACTIVATE | SWP_FRAMECHANGED);
    ShowWindow(editor, SW_SHOWMINNOACTIVE);
    SetPropW(container, kReleasedEditorProperty, editor);
}

// An editor whose message loop ends on WM_CLOSE may still answer a look, from inside the very
// read that then hands it that end; after it answers nothing, and any call on its window waits
// for its shutdown. It counts as running on only when it also answers a second look a moment
// later, once that read has returned.
static bool RunsOnAfterClose(HWND editor) {
    if (!AnswersWithin(editor, kEditorAfterCloseGlanceMs))
        return false;
    Sleep(kEditorAfterClosePauseMs);
    return AnswersWithin(editor, kEditorAfterCloseGlanceMs);
}

// Once the editor has settled with its window kept, and the host still lives, the editor
// comes forward where the viewer was; one that the user restored meanwhile keeps its size.
static void BringReleasedEditorForward(HWND editor) {
    if (IsIconic(editor))
        ShowWindow(editor, SW_RESTORE);
    SetForegroundWindow(editor);
}

// While the editor asks its user about the close ("save changes?"), the host waits for the
// answer as it would for the close itself: the question is owned by the window above the
// container, and destroying that under the question would take the user's choice away.
// Messages that the question sends to the host's windows meanwhile are answered.
static void WaitWhileEditorAsks(HWND container, HWND editor) {
    while (IsWindow(editor) && FindEditorDialog(container, editor) != nullptr &&
           AnswersWithin(editor, kEditorAnswerWaitMs))
        WaitAnsweringSentMessages(nullptr, kCloseLookMs);
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
    HWND editor = EmbeddedEditor(container);
    const bool answers = editor != nullptr && AnswersWithin(editor, kEditorAnswerWaitMs);
    if (answers)
        AskEditorToClose(container, editor);
    RemoveEditorHooks(container);
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryParentKey);
    if (EmbeddedEditor(container) == nullptr) {
        DestroyWindow(container);
        return;
    }
    // Whether the editor keeps its window is known only once it has settled: many end, or
    // destroy their window, a moment after WM_CLOSE returned. The container finishes then.
    KillTimer(container, kRefitTimer);
    LeaveLister(container);
    // One that does not run on stays inside: it is ending, or it is released once it answers.
    if (answers && RunsOnAfterClose(editor))
        ReleaseEditorMinimised(container, editor);
    SetClosePhase(container, answers ? kCloseAsked : kCloseNotAsked);
    RestartSettleClock(container);
    SetTimer(container, kCloseTimer, kCloseLookMs, nullptr);
}

// The editor settles once it has answered, with no question about the close open, for the
// whole settling time; a hung editor is waited for as long as it takes, never terminated.
void ContinueClose(HWND container) {
    HWND editor = EditorOfClose(container);
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
    // One that did not run on right after the request leaves as soon as it does.
    if (EmbeddedEditor(container) == editor) {
        if (RunsOnAfterClose(editor))
            ReleaseEditorMinimised(container, editor);
        else
            RestartSettleClock(container);
        return;
    }
    if (SettledFor(container) < kEditorSettleMs)
        return;
    BringReleasedEditorForward(editor);
    DestroyWindow(container);
}

// The host destroyed the lister window without closing the viewer (a file manager that
// quits does), and the container's WM_DESTROY is the last moment anything can leave it. The
// holder, with the editor inside, goes into a hidden window of the plug-in's class, which then
// closes the viewer as ListCloseWindow does, so that the editor can ask about unsaved text.
// The holder is a window of the host's own thread: moving it waits for nothing, whatever the
// editor does, where moving the editor's window, or destroying it with the container, waits
// for the editor's thread.
void OnContainerDestroyed(HWND container) {
    KillTimer(container, kCloseTimer);
    KillTimer(container, kRefitTimer);
    const bool closing = RemovePropW(container, kClosePhaseProperty) != nullptr;
    RemovePropW(container, kCloseClockProperty);
    RemovePropW(container, kReleasedEditorProperty);
    if (closing || EmbeddedEditor(container) == nullptr)
        return;
    RECT place;
    GetWindowRect(container, &place);
    HWND keeper = CreateWindowExW(0, kEditorClass, L"", WS_POPUP | WS_CLIPCHILDREN, place.left, place.top,
                                  place.right - place.left, place.bottom - place.top, nullptr, nullptr, gModule,
                                  nullptr);
    if (keeper == nullptr)
        return;
    SetParent(GetWindow(container, GW_CHILD), keeper);
    MoveEditorHooks(container, keeper);
    CloseViewer(keeper);
}
