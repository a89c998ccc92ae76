#include "hosting/container_window.h"

#include "common/editor_calls.h"
#include "common/module.h"
#include "common/text.h"
#include "common/window_class.h"
#include "hosting/hung_note.h"
#include "hosting/process_windows.h"
#include "hosting/viewer_close.h"

// Moving another thread's window waits for that thread, SWP_ASYNCWINDOWPOS included once
// embedding has joined the two threads' input, so an editor that does not answer a glance is
// not moved now: the container's refit timer fits it once it answers again. Until then it is
// not painted either (see GlanceBeforeResize).
// The holder is the plug-in's own window and follows at once, whatever the editor does.
static void FitEditorToClient(HWND container) {
    RECT client;
    GetClientRect(container, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    HWND editor = EmbeddedEditor(container);
    const bool answers = editor != nullptr && !EditorPaintingHeld(container) && AnswersWithin(editor, kEditorGlanceMs);
    if (editor != nullptr && !answers) {
        HoldEditorPainting(container);
        SetTimer(container, kRefitTimer, kRefitLookMs, nullptr);
    }
    if (HWND holder = GetWindow(container, GW_CHILD))
        SetWindowPos(holder, nullptr, client.left, client.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceHungNote(container);
    if (answers)
        SetWindowPos(editor, nullptr, 0, 0, width, height, 0);
}

static void RefitEditor(HWND container) {
    HWND editor = EmbeddedEditor(container);
    if (editor != nullptr && !AnswersWithin(editor, kEditorGlanceMs))
        return;
    KillTimer(container, kRefitTimer);
    ResumeEditorPainting(container);
    FitEditorToClient(container);
}

// A resize invalidates what it uncovers, the editor's window included, and erases it before
// the container hears of its new size; erasing, or any repaint of the host with its
// children, then waits for the editor's thread. An editor that does not answer a glance is
// kept out of painting before the resize takes place, and the refit timer draws it again once
// it answers: a move that keeps the size brings no WM_SIZE that would.
static void GlanceBeforeResize(HWND container, const WINDOWPOS* position) {
    if ((position->flags & SWP_NOSIZE) != 0)
        return;
    HWND editor = EmbeddedEditor(container);
    if (editor != nullptr && !EditorPaintingHeld(container) && !AnswersWithin(editor, kEditorGlanceMs)) {
        HoldEditorPainting(container);
        SetTimer(container, kRefitTimer, kRefitLookMs, nullptr);
    }
}

static void OnContainerTimer(HWND container, WPARAM timer) {
    if (timer == kRefitTimer)
        RefitEditor(container);
    else if (timer == kHangWatchTimer)
        WatchForHungEditor(container);
}

// An editor dialog that is open when the viewer gets the focus keeps it; a modeless one
// leaves the lister enabled, so the user can click back into the viewer meanwhile. Focusing
// the dialog waits for the editor's thread, so an editor that does not answer keeps none.
static LRESULT OnContainerFocus(HWND container, WPARAM wParam, LPARAM lParam) {
    HWND editor = EmbeddedEditor(container);
    HWND dialog = editor != nullptr ? FindEditorDialog(container, editor) : nullptr;
    if (dialog == nullptr || !AnswersWithin(editor, kEditorGlanceMs))
        return DefWindowProcW(container, WM_SETFOCUS, wParam, lParam);
    SetFocus(dialog);
    return 0;
}

// Handing the focus to another thread's window waits for that thread: an editor that does
// not answer a glance is left as it is, and false says so.
static bool FocusEditor(HWND editor) {
    if (!AnswersWithin(editor, kEditorGlanceMs))
        return false;
    SetForegroundWindow(editor);
    SetFocus(editor);
    return true;
}

// Keys that reach the container itself go on to the editor, which expects lParam 0.
// Without an editor inside, nothing is sent, focused or injected anywhere else.
static LRESULT OnContainerKey(HWND container, WPARAM key, LPARAM lParam) {
    HWND editor = EmbeddedEditor(container);
    switch (key) {
    case VK_TAB:
        if (editor && IsKeyDown(GetKeyState(VK_CONTROL)))
            FocusEditor(editor);
        break;
    case 'W':
        if (IsKeyDown(GetKeyState(VK_CONTROL)))
            return 1;
        [[fallthrough]];
    case VK_RETURN:
        if (IsKeyDown(GetKeyState(VK_MENU)))
            return 1;
        break;
    case VK_NEXT:
    case VK_DOWN:
        if (editor && IsKeyDown(GetKeyState(static_cast<int>(key))) && FocusEditor(editor))
            keybd_event(static_cast<BYTE>(key), 0, 0, 0);
        break;
    case VK_F4:
        if (editor && !IsKeyDown(GetKeyState(VK_CONTROL)) && IsKeyDown(GetKeyState(VK_F4)))
            SendMessageWithin(editor, WM_COMMAND, kCmdF4, 0, kEditorCommandWaitMs);
        return 1;
    }
    if (editor)
        PostMessageW(editor, WM_KEYDOWN, key, 0);
    return DefWindowProcW(container, WM_KEYDOWN, key, lParam);
}

static LRESULT CALLBACK ContainerWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_WINDOWPOSCHANGING:
        GlanceBeforeResize(wnd, reinterpret_cast<const WINDOWPOS*>(lParam));
        return DefWindowProcW(wnd, msg, wParam, lParam);
    case WM_SIZE:
        FitEditorToClient(wnd);
        return DefWindowProcW(wnd, msg, wParam, lParam);
    case WM_SETFOCUS:
        return OnContainerFocus(wnd, wParam, lParam);
    case WM_KEYDOWN:
        return OnContainerKey(wnd, wParam, lParam);
    case WM_TIMER:
        OnContainerTimer(wnd, wParam);
        return 0;
    case WM_DESTROY:
        OnContainerDestroyed(wnd);
        return DefWindowProcW(wnd, msg, wParam, lParam);
    default:
        return DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

// Registered again on every load; from the second load on in a host process the classes
// exist already and the registration fails harmlessly.
void RegisterContainerClass() {
    RegisterModuleClass(kEditorHolderClass, DefWindowProcW);
    RegisterHungNoteClass();
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_PARENTDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ContainerWindowProc;
    windowClass.hInstance = gModule;
    windowClass.hIcon = LoadIconW(nullptr, IDI_WINLOGO);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kEditorClass;
    windowClass.hIconSm = LoadIconW(nullptr, IDI_WINLOGO);
    RegisterClassExW(&windowClass);
}

static HWND CreateEditorHolder(HWND parent) {
    return CreateWindowExW(0, kEditorHolderClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0, parent,
                           nullptr, gModule, nullptr);
}

// Created with zero size: the host sizes the window it gets back. A container without its
// holder could hold no editor, and is not made. The hang watch runs for as long as the
// container is a viewer; it looks at nothing before the editor is inside.
HWND CreateContainerWindow(HWND listerWindow) {
    HWND container = CreateWindowExW(0, kEditorClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0,
                                     listerWindow, nullptr, gModule, nullptr);
    if (container != nullptr && CreateEditorHolder(container) == nullptr) {
        DestroyWindow(container);
        return nullptr;
    }
    if (container != nullptr)
        SetTimer(container, kHangWatchTimer, kHangLookMs, nullptr);
    return container;
}
