#include "hosting/hung_note.h"

#include <cstddef>
#include <cwchar>

#include "common/editor_calls.h"
#include "common/module.h"
#include "common/names.h"
#include "common/text.h"
#include "common/window_class.h"
#include "hosting/process_windows.h"

// What the note keeps in its window's extra bytes, one pointer-sized slot each.
enum NoteSlot : int {
    kNoteFontSlot,    // the system's dialog font, made for the note and deleted with it
    kNoteWaitedSlot,  // when Wait hid the note (GetTickCount)
    kNoteSlotCount,
};

// The note's two buttons are windows of the plug-in's own, identified by these.
enum NoteButton : int { kWaitButton = 1, kEndButton = 2 };

struct NoteLayout {
    SIZE size;
    RECT lines[2];
    RECT wait;
    RECT end;
};

static LONG_PTR NoteValue(HWND note, NoteSlot slot) {
    return GetWindowLongPtrW(note, static_cast<int>(slot * sizeof(LONG_PTR)));
}

static void SetNoteValue(HWND note, NoteSlot slot, LONG_PTR value) {
    SetWindowLongPtrW(note, static_cast<int>(slot * sizeof(LONG_PTR)), value);
}

static HFONT NoteFont(HWND note) {
    return reinterpret_cast<HFONT>(NoteValue(note, kNoteFontSlot));
}

static bool HasStyle(HWND wnd, LONG_PTR style) {
    return (GetWindowLongPtrW(wnd, GWL_STYLE) & style) != 0;
}

// The note lies right below the holder: the holder stays the container's first child, which
// everything that finds the editor takes. It shows all the same, as the holder is not drawn
// while the editor hangs.
static HWND NoteOf(HWND container) {
    HWND next = GetWindow(GetWindow(container, GW_CHILD), GW_HWNDNEXT);
    return next != nullptr && ClassNameIs(next, kHungNoteClass) ? next : nullptr;
}

static SIZE TextSize(HDC dc, const wchar_t* text) {
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    return size;
}

// Everything is measured in the dialog font's line height: two lines of text, a line apart
// from the two buttons below them, centred.
static NoteLayout MeasureNote(HWND note) {
    HDC dc = GetDC(note);
    HGDIOBJ previous = SelectObject(dc, NoteFont(note));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    const SIZE text = TextSize(dc, kHungNoteText), loss = TextSize(dc, kHungNoteLossText);
    const SIZE wait = TextSize(dc, kHungNoteWaitButton), end = TextSize(dc, kHungNoteEndButton);
    SelectObject(dc, previous);
    ReleaseDC(note, dc);

    const int line = metrics.tmHeight;
    const int buttonWidth = (wait.cx > end.cx ? wait.cx : end.cx) + 2 * line;
    const int buttonHeight = line * 7 / 4;
    const int gap = line / 2;
    const int textWidth = text.cx > loss.cx ? text.cx : loss.cx;
    const int inner = textWidth > 2 * buttonWidth + gap ? textWidth : 2 * buttonWidth + gap;
    const int width = inner + 2 * line;
    const int top = line * 5;
    const int left = (width - 2 * buttonWidth - gap) / 2;
    NoteLayout layout;
    layout.size = {width, top + buttonHeight + line};
    layout.lines[0] = {line, line, width - line, 2 * line};
    layout.lines[1] = {line, line * 5 / 2, width - line, line * 7 / 2};
    layout.wait = {left, top, left + buttonWidth, top + buttonHeight};
    layout.end = {left + buttonWidth + gap, top, left + 2 * buttonWidth + gap, top + buttonHeight};
    return layout;
}

static void PlaceChild(HWND wnd, const RECT& place) {
    SetWindowPos(wnd, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

static void PlaceNote(HWND container, HWND note, UINT flags) {
    RECT client;
    GetClientRect(container, &client);
    const NoteLayout layout = MeasureNote(note);
    PlaceChild(GetDlgItem(note, kWaitButton), layout.wait);
    PlaceChild(GetDlgItem(note, kEndButton), layout.end);
    SetWindowPos(note, HWND_BOTTOM, (client.right - layout.size.cx) / 2, (client.bottom - layout.size.cy) / 2,
                 layout.size.cx, layout.size.cy, SWP_NOACTIVATE | flags);
}

void PlaceHungNote(HWND container) {
    if (HWND note = NoteOf(container))
        PlaceNote(container, note, 0);
}

static void DrawNoteText(HDC dc, const wchar_t* text, RECT place, UINT format) {
    DrawTextW(dc, text, -1, &place, format | DT_SINGLELINE | DT_NOPREFIX);
}

// Painted in the colours of the system's dialogs, text, buttons and focus alike.
static void PaintNoteWindow(HWND wnd, HFONT font, bool button) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(wnd, &paint);
    RECT client;
    GetClientRect(wnd, &client);
    HGDIOBJ previous = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    if (button) {
        wchar_t label[32];
        GetWindowTextW(wnd, label, 32);
        DrawFrameControl(dc, &client, DFC_BUTTON, DFCS_BUTTONPUSH | (GetCapture() == wnd ? DFCS_PUSHED : 0));
        DrawNoteText(dc, label, client, DT_CENTER | DT_VCENTER);
        if (GetFocus() == wnd) {
            InflateRect(&client, -2 * GetSystemMetrics(SM_CXEDGE), -2 * GetSystemMetrics(SM_CYEDGE));
            DrawFocusRect(dc, &client);
        }
    } else {
        const NoteLayout layout = MeasureNote(wnd);
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(dc, &client, EDGE_RAISED, BF_RECT);
        DrawNoteText(dc, kHungNoteText, layout.lines[0], DT_LEFT);
        DrawNoteText(dc, kHungNoteLossText, layout.lines[1], DT_LEFT);
    }
    SelectObject(dc, previous);
    EndPaint(wnd, &paint);
}

// Handing the focus from a window of another thread waits for that thread to let it go
// (WM_KILLFOCUS is sent to it), so the note takes it only from the host's own windows.
static bool FocusWaitsForNoOtherThread() {
    HWND focus = GetFocus();
    return focus == nullptr || GetWindowThreadProcessId(focus, nullptr) == GetCurrentThreadId();
}

// The editor's process, found from its window and opened with the rights to end it and to
// see it end, nothing more. A window of the host's own process is never taken for it.
static void EndEditor(HWND container) {
    DWORD processId = 0;
    GetWindowThreadProcessId(EmbeddedEditor(container), &processId);
    if (processId == 0 || processId == GetCurrentProcessId())
        return;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return;
    TerminateProcess(process, kEndedEditorExitCode);
    WaitForSingleObject(process, kEndedEditorWaitMs);
    CloseHandle(process);
}

// Wait hides the note until the watch shows it again; End Velnote leaves the viewer empty,
// with the keyboard, if the note had it, on the lister window, where the host's keys work.
static void ChooseNoteButton(HWND note, WPARAM button) {
    const bool focused = IsChild(note, GetFocus());
    if (button == kWaitButton) {
        SetNoteValue(note, kNoteWaitedSlot, static_cast<LONG_PTR>(GetTickCount()));
        ShowWindow(note, SW_HIDE);
        if (focused)
            SetFocus(GetParent(note));
        return;
    }
    HWND container = GetParent(note);
    EndEditor(container);
    DestroyWindow(note);
    if (focused)
        SetFocus(GetParent(container));
}

static void ChooseButton(HWND button) {
    SendMessageW(GetParent(button), WM_COMMAND, static_cast<WPARAM>(GetDlgCtrlID(button)),
                 reinterpret_cast<LPARAM>(button));
}

static void PressButton(HWND button) {
    SetCapture(button);
    if (FocusWaitsForNoOtherThread())
        SetFocus(button);
    InvalidateRect(button, nullptr, FALSE);
}

// A button acts when the mouse is released over it after it was pressed on it.
static void ReleaseButton(HWND button, LPARAM point) {
    if (GetCapture() != button)
        return;
    ReleaseCapture();
    RECT client;
    GetClientRect(button, &client);
    const POINT at = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    if (PtInRect(&client, at))
        ChooseButton(button);
}

// Tab and the arrow keys move between the two buttons, Enter and Space choose one. Esc
// closes a stand-alone lister, as it does in the editor, and nothing in quick view; every
// other key goes to the container, as it would without the note.
static LRESULT OnButtonKey(HWND button, WPARAM key, LPARAM lParam) {
    HWND note = GetParent(button);
    switch (key) {
    case VK_TAB:
    case VK_LEFT:
    case VK_RIGHT:
        SetFocus(GetDlgItem(note, GetDlgCtrlID(button) == kWaitButton ? kEndButton : kWaitButton));
        return 0;
    case VK_RETURN:
    case VK_SPACE:
        ChooseButton(button);
        return 0;
    case VK_ESCAPE:
        if (HWND root = GetAncestor(button, GA_ROOT); !IsHostMainWindow(root))
            PostMessageW(root, WM_CLOSE, 0, 0);
        return 0;
    default:
        return SendMessageW(GetParent(note), WM_KEYDOWN, key, lParam);
    }
}

static LRESULT CALLBACK NoteButtonProc(HWND button, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
        PaintNoteWindow(button, NoteFont(GetParent(button)), true);
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_CAPTURECHANGED:
        InvalidateRect(button, nullptr, FALSE);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        PressButton(button);
        return 0;
    case WM_LBUTTONUP:
        ReleaseButton(button, lParam);
        return 0;
    case WM_KEYDOWN:
        return OnButtonKey(button, wParam, lParam);
    default:
        return DefWindowProcW(button, msg, wParam, lParam);
    }
}

static void CreateNoteButton(HWND note, NoteButton id, const wchar_t* label) {
    CreateWindowExW(0, kHungNoteButtonClass, label, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, note,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gModule, nullptr);
}

// The message font is the one the system's own dialogs use. The size asked for is the
// structure as Windows XP knows it, which later versions accept as well.
static void CreateNoteContent(HWND note) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = offsetof(NONCLIENTMETRICSW, lfMessageFont) + sizeof metrics.lfMessageFont;
    HGDIOBJ font = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)
                       ? CreateFontIndirectW(&metrics.lfMessageFont)
                       : nullptr;
    SetNoteValue(note, kNoteFontSlot, reinterpret_cast<LONG_PTR>(font ? font : GetStockObject(DEFAULT_GUI_FONT)));
    CreateNoteButton(note, kWaitButton, kHungNoteWaitButton);
    CreateNoteButton(note, kEndButton, kHungNoteEndButton);
}

static LRESULT CALLBACK HungNoteProc(HWND note, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        CreateNoteContent(note);
        return 0;
    case WM_PAINT:
        PaintNoteWindow(note, NoteFont(note), false);
        return 0;
    case WM_COMMAND:
        ChooseNoteButton(note, wParam);
        return 0;
    case WM_DESTROY:
        DeleteObject(NoteFont(note));
        return 0;
    default:
        return DefWindowProcW(note, msg, wParam, lParam);
    }
}

void RegisterHungNoteClass() {
    RegisterModuleClass(kHungNoteClass, HungNoteProc, CS_HREDRAW | CS_VREDRAW, kNoteSlotCount * sizeof(LONG_PTR));
    RegisterModuleClass(kHungNoteButtonClass, NoteButtonProc, CS_HREDRAW | CS_VREDRAW);
}

// WM_SETREDRAW takes the holder, and the editor with it, out of every repaint (the system
// treats it as not visible) without moving or focusing anything; the editor keeps its picture
// on the screen, its size and the focus, if it had it.
void HoldEditorPainting(HWND container) {
    HWND holder = GetWindow(container, GW_CHILD);
    if (holder != nullptr && HasStyle(holder, WS_VISIBLE))
        SendMessageW(holder, WM_SETREDRAW, FALSE, 0);
}

bool EditorPaintingHeld(HWND container) {
    HWND holder = GetWindow(container, GW_CHILD);
    return holder != nullptr && !HasStyle(holder, WS_VISIBLE);
}

// Invalidating waits for nothing: the editor paints on its own thread when it gets to it.
void ResumeEditorPainting(HWND container) {
    if (!EditorPaintingHeld(container))
        return;
    HWND holder = GetWindow(container, GW_CHILD);
    SendMessageW(holder, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(holder, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

// The note takes the keyboard when the viewer had it on the host's side (the lister window
// or the container), never from the host's other windows, nor from the hung editor.
static void ShowHungNote(HWND container, HWND note) {
    if (note == nullptr)
        note = CreateWindowExW(0, kHungNoteClass, kHungNoteText, WS_CHILD, 0, 0, 0, 0, container, nullptr, gModule,
                               nullptr);
    if (note == nullptr)
        return;
    PlaceNote(container, note, SWP_SHOWWINDOW);
    HWND focus = GetFocus();
    if (focus == container || focus == GetParent(container))
        SetFocus(GetDlgItem(note, kWaitButton));
}

// The editor answers again: the note goes, and the editor is drawn as it is. The keyboard,
// if the note had it, goes back to the container, whose keys go on to the editor.
static void TakeNoteAway(HWND container, HWND note) {
    if (IsChild(note, GetFocus()))
        SetFocus(container);
    DestroyWindow(note);
    ResumeEditorPainting(container);
}

void WatchForHungEditor(HWND container) {
    HWND editor = EmbeddedEditor(container);
    const bool hung = editor != nullptr && IsHungAppWindow(editor);
    HWND note = NoteOf(container);
    if (!hung) {
        if (note != nullptr)
            TakeNoteAway(container, note);
        return;
    }
    HoldEditorPainting(container);
    if (note == nullptr ||
        (!HasStyle(note, WS_VISIBLE) && GetTickCount() - static_cast<DWORD>(NoteValue(note, kNoteWaitedSlot)) >= kHungNoteWaitMs))
        ShowHungNote(container, note);
}
