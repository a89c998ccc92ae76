#include "hosting/viewer_close.h"

#include "common/editor_calls.h"
#include "common/module.h"
#include "common/text.h"
#include "common/waits.h"
#include "common/window_class.h"
#include "hosting/editor_hooks.h"
#include "hosting/process_windows.h"

// Phases of a close that goes on after the host has let the viewer go, kept on the closer.
enum ClosePhase : ULONG_PTR {
    kCloseNotAsked = 1,      // the editor did not answer at the close: it is asked once it answers again
    kCloseAsked = 2,         // WM_CLOSE has gone out; whether the editor runs on is not known yet
    kCloseAnsweredOnce = 3,  // asked, and it answered the last look: it runs on if it answers the next
    kCloseReleased = 4,      // its window is on the desktop, minimised, until it has settled
};

static void SetClosePhase(HWND closer, ULONG_PTR phase) {
    SetPropW(closer, kClosePhaseProperty, reinterpret_cast<HANDLE>(phase));
}

static ULONG_PTR ClosePhaseOf(HWND closer) {
    return reinterpret_cast<ULONG_PTR>(GetPropW(closer, kClosePhaseProperty));
}

// Times are compared as differences of GetTickCount values, which stay right across the
// counter's wrap after 49.7 days.
static void RestartSettleClock(HWND closer) {
    SetPropW(closer, kCloseClockProperty, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetTickCount())));
}

static DWORD SettledFor(HWND closer) {
    return GetTickCount() - static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(GetPropW(closer, kCloseClockProperty)));
}

// Where the editor of a close in progress is: inside the closer, or on the desktop once it
// has left (its window is kept on the closer, as long as it exists).
static HWND EditorOfClose(HWND closer) {
    if (HWND inside = EmbeddedEditor(closer))
        return inside;
    HWND released = static_cast<HWND>(GetPropW(closer, kReleasedEditorProperty));
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
static void ReleaseEditorMinimised(HWND closer, HWND editor) {
    RECT place;
    GetWindowRect(closer, &place);
    ShowWindow(editor, SW_HIDE);
    SetParent(editor, nullptr);
    SetWindowLongPtrW(editor, GWL_STYLE, WS_OVERLAPPEDWINDOW);
    GetSystemMenu(editor, TRUE);
    EnableMenuItem(GetMenu(editor), kCmdMenuItemToDisable, MF_BYCOMMAND | MF_ENABLED);
    SetWindowPos(editor, HWND_BOTTOM, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOACTIVATE | SWP_FRAMECHANGED);
    ShowWindow(editor, SW_SHOWMINNOACTIVE);
    SetPropW(closer, kReleasedEditorProperty, editor);
    SetClosePhase(closer, kCloseReleased);
    RestartSettleClock(closer);
}

// The pause answers what the editor sends to the host's windows meanwhile, and ends as soon
// as the editor's process does; true when it ended.
static bool EndsWithin(HWND editor, DWORD timeoutMs) {
    DWORD processId = 0;
    GetWindowThreadProcessId(editor, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    const DWORD start = GetTickCount();
    bool ended = false;
    for (DWORD waited = 0; !ended && waited < timeoutMs; waited = GetTickCount() - start)
        ended = WaitAnsweringSentMessages(process, timeoutMs - waited);
    if (process != nullptr)
        CloseHandle(process);
    return ended;
}

// An editor whose message loop ends on WM_CLOSE may still answer a look, from inside the very
// read that then hands it that end (GetMessage delivers the messages sent meanwhile before it
// returns WM_QUIT); after that it answers nothing, and any call on its window waits for its
// shutdown. It counts as running on only when it also answers a second look a moment later,
// by which time its thread has returned from that read. One that does not answer the first
// look costs the close only that look's bound.
static bool RunsOnAfterClose(HWND editor) {
    return AnswersWithin(editor, kEditorAfterCloseGlanceMs) && !EndsWithin(editor, kEditorAfterClosePauseMs) &&
           AnswersWithin(editor, kEditorAfterCloseGlanceMs);
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

// The host destroyed the lister window while the editor does not answer: a host that quits
// does, and every window of its process, the closer with the editor's window inside, may go
// before the editor answers again. A close request posted to that window would go with it, and
// the editor would run on with no window at all; so its thread also gets a WM_QUIT behind the
// request, which outlives its window: an editor that answers again with its window still there
// closes on the request as it would have, and one whose window has gone ends its message loop.
static void AskUnansweringEditorToEnd(HWND editor) {
    PostMessageW(editor, WM_CLOSE, 0, 0);
    PostThreadMessageW(GetWindowThreadProcessId(editor, nullptr), WM_QUIT, 0, 0);
}

// What a closed viewer leaves behind in the host: the editor's hooks and the view's registry keys.
static void ForgetViewer(HWND container) {
    RemoveEditorHooks(container);
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kViewRegistryParentKey);
}

// The editor settles once it has answered, with no question about the close open, for the
// whole settling time; a hung editor is waited for as long as it takes, never terminated.
// Each tick looks at it once, bounded as the look after the close request, and never pauses:
// whether it runs on is decided from two ticks in a row.
static void ContinueClose(HWND closer) {
    HWND editor = EditorOfClose(closer);
    if (editor == nullptr) {
        DestroyWindow(closer);
        return;
    }
    const ULONG_PTR phase = ClosePhaseOf(closer);
    if (!AnswersWithin(editor, kEditorAfterCloseGlanceMs) || FindEditorDialog(closer, editor) != nullptr) {
        if (phase == kCloseAnsweredOnce)
            SetClosePhase(closer, kCloseAsked);
        RestartSettleClock(closer);
        return;
    }
    switch (phase) {
    case kCloseNotAsked:
        // Asked only now that it answers, and posted: it is asked once, and the host does
        // not wait on it from a timer.
        PostMessageW(editor, WM_CLOSE, 0, 0);
        SetClosePhase(closer, kCloseAsked);
        RestartSettleClock(closer);
        return;
    case kCloseAsked:
        SetClosePhase(closer, kCloseAnsweredOnce);
        return;
    case kCloseAnsweredOnce:
        ReleaseEditorMinimised(closer, editor);
        return;
    default:
        if (SettledFor(closer) < kEditorSettleMs)
            return;
        BringReleasedEditorForward(editor);
        DestroyWindow(closer);
    }
}

// The timer goes with the window; its properties are the plug-in's to remove.
static void EndClose(HWND closer) {
    RemovePropW(closer, kClosePhaseProperty);
    RemovePropW(closer, kCloseClockProperty);
    RemovePropW(closer, kReleasedEditorProperty);
}

static LRESULT CALLBACK CloserWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_TIMER:
        ContinueClose(wnd);
        return 0;
    case WM_DESTROY:
        EndClose(wnd);
        return 0;
    default:
        return DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

// A close that outlives the host's call goes on in a hidden top-level window of its own, where
// the viewer was, which takes the holder with the editor inside: the host can then destroy its
// windows at once, for destroying a window with a hung editor's window inside waits for that
// editor, while moving the holder, a window of the host's own thread, waits for nothing.
static HWND HandOverToCloser(HWND container) {
    RegisterModuleClass(kCloserClass, CloserWindowProc);
    RECT place;
    GetWindowRect(container, &place);
    HWND closer = CreateWindowExW(0, kCloserClass, L"", WS_POPUP | WS_CLIPCHILDREN, place.left, place.top,
                                  place.right - place.left, place.bottom - place.top, nullptr, nullptr, gModule,
                                  nullptr);
    if (closer != nullptr)
        SetParent(GetWindow(container, GW_CHILD), closer);
    return closer;
}

// The closer decides at once about an editor that was asked: one that runs on with its
// window leaves the host's windows before the host can end; one that does not is left alone.
static void BeginClose(HWND closer, ClosePhase phase) {
    HWND editor = EmbeddedEditor(closer);
    if (editor == nullptr) {
        DestroyWindow(closer);
        return;
    }
    SetClosePhase(closer, phase);
    RestartSettleClock(closer);
    if (phase == kCloseAsked && RunsOnAfterClose(editor))
        ReleaseEditorMinimised(closer, editor);
    SetTimer(closer, kCloseTimer, kCloseLookMs, nullptr);
}

// Without a closer (the system has no window to spare) the editor goes with the container, on
// either way of ending a viewer, as it would in a host that had no plug-in between.
void CloseViewer(HWND container) {
    HWND editor = EmbeddedEditor(container);
    const bool answers = editor != nullptr && AnswersWithin(editor, kEditorAnswerWaitMs);
    if (answers)
        AskEditorToClose(container, editor);
    ForgetViewer(container);
    HWND closer = EmbeddedEditor(container) != nullptr ? HandOverToCloser(container) : nullptr;
    DestroyWindow(container);
    if (closer != nullptr)
        BeginClose(closer, answers ? kCloseAsked : kCloseNotAsked);
}

// The host destroyed the lister window without closing the viewer (a file manager that
// quits does), and the container's WM_DESTROY is the last moment anything can leave it. The
// holder, with the editor inside, goes into a closer first, and the viewer is then closed from
// there as ListCloseWindow closes it, so that the editor can ask about unsaved text.
void OnContainerDestroyed(HWND container) {
    HWND editor = EmbeddedEditor(container);
    if (editor == nullptr)
        return;
    HWND closer = HandOverToCloser(container);
    if (closer == nullptr) {
        ForgetViewer(container);
        return;
    }
    if (AnswersWithin(editor, kEditorAnswerWaitMs))
        AskEditorToClose(closer, editor);
    else
        AskUnansweringEditorToEnd(editor);
    ForgetViewer(container);
    BeginClose(closer, kCloseAsked);
}
