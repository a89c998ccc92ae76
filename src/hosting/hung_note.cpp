#include "hosting/hung_note.h"

#include <cstddef>
#include <cwchar>

#include "common/editor_calls.h"
#include "common/module.h"
#include "common/names.h"
#include "common/text.h"
#include "hosting/process_windows.h"

// What the note keeps in its window's extra bytes, one pointer-sized slot each.
enum NoteSlot : int {
    kNoteFontSlot,     // the system's dialog font, made for the note and deleted with it
    kNoteFocusedSlot,  // the button the keyboard acts on
    kNotePressedSlot,  // the button held down with the mouse, or kNoButton
    kNoteWaitedSlot,   // when Wait hid the note (GetTickCount)
    kNoteSlotCount,
};

enum NoteButton : LONG_PTR { kNoButton = -1, kWaitButton = 0, kEndButton = 1 };

struct NoteLayout {
    SIZE size;
    RECT lines[2];
    RECT buttons[2];
};

static int SlotOffset(NoteSlot slot) {
    return static_cast<int>(slot * sizeof(LONG_PTR));
}

static LONG_PTR NoteValue(HWND note, NoteSlot slot) {
    return GetWindowLongPtrW(note, SlotOffset(slot));
}

static void SetNoteValue(HWND note, NoteSlot slot, LONG_PTR value) {
    SetWindowLongPtrW(note, SlotOffset(slot), value);
}

static bool HasStyle(HWND wnd, LONG_PTR style) {
    return (GetWindowLongPtrW(wnd, GWL_STYLE) & style) != 0;
}

// The note is the container's last child: the holder stays its first, which everything that
// finds the editor takes. It shows although it lies below the holder, as the holder is not
// drawn while the editor hangs.
static HWND NoteOf(HWND container) {
    HWND holder = GetWindow(container, GW_CHILD);
    HWND last = GetWindow(holder, GW_HWNDLAST);
    return last != holder && ClassNameIs(last, kHungNoteClass) ? last : nullptr;
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
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(NoteValue(note, kNoteFontSlot)));
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
    const int buttonTop = line * 5;
    const int buttonLeft = (width - 2 * buttonWidth - gap) / 2;
    NoteLayout layout;
    layout.size = {width, buttonTop + buttonHeight + line};
    layout.lines[0] = {line, line, width - line, 2 * line};
    layout.lines[1] = {line, line * 5 / 2, width - line, line * 7 / 2};
    layout.buttons[kWaitButton] = {buttonLeft, buttonTop, buttonLeft + buttonWidth, buttonTop + buttonHeight};
    layout.buttons[kEndButton] = {buttonLeft + buttonWidth + gap, buttonTop, buttonLeft + 2 * buttonWidth + gap,
                                  buttonTop + buttonHeight};
    return layout;
}

static void PlaceNote(HWND container, HWND note, UINT flags) {
    RECT client;
    GetClientRect(container, &client);
    const SIZE size = MeasureNote(note).size;
    SetWindowPos(note, HWND_BOTTOM, (client.right - size.cx) / 2, (client.bottom - size.cy) / 2, size.cx, size.cy,
                 SWP_NOACTIVATE | flags);
}

void PlaceHungNote(HWND container) {
    if (HWND note = NoteOf(container))
        PlaceNote(container, note, 0);
}

// The message font is the one the system's own dialogs use. The size asked for is the
// structure as Windows XP knows it, which later versions accept as well.
static void CreateNoteFont(HWND note) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = offsetof(NONCLIENTMETRICSW, lfMessageFont) + sizeof metrics.lfMessageFont;
    HGDIOBJ font = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)
                       ? CreateFontIndirectW(&metrics.lfMessageFont)
                       : nullptr;
    SetNoteValue(note, kNoteFontSlot, reinterpret_cast<LONG_PTR>(font ? font : GetStockObject(DEFAULT_GUI_FONT)));
    SetNoteValue(note, kNotePressedSlot, kNoButton);
}

static void DrawNoteText(HDC dc, const wchar_t* text, RECT place, UINT format) {
    DrawTextW(dc, text, -1, &place, format | DT_SINGLELINE | DT_NOPREFIX);
}

static void PaintNote(HWND note) {
    const NoteLayout layout = MeasureNote(note);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(note, &paint);
    RECT client;
    GetClientRect(note, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &client, EDGE_RAISED, BF_RECT);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(NoteValue(note, kNoteFontSlot)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawNoteText(dc, kHungNoteText, layout.lines[0], DT_LEFT);
    DrawNoteText(dc, kHungNoteLossText, layout.lines[1], DT_LEFT);
    const wchar_t* labels[] = {kHungNoteWaitButton, kHungNoteEndButton};
    for (LONG_PTR button : {kWaitButton, kEndButton}) {
        RECT face = layout.buttons[button];
        const bool pressed = NoteValue(note, kNotePressedSlot) == button;
        DrawFrameControl(dc, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
        DrawNoteText(dc, labels[button], face, DT_CENTER | DT_VCENTER);
        if (GetFocus() == note && NoteValue(note, kNoteFocusedSlot) == button) {
            InflateRect(&face, -GetSystemMetrics(SM_CXEDGE) * 2, -GetSystemMetrics(SM_CYEDGE) * 2);
            DrawFocusRect(dc, &face);
        }
    }
    SelectObject(dc, previous);
    EndPaint(note, &paint);
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
static void ChooseNoteButton(HWND note, LONG_PTR button) {
    if (button == kWaitButton) {
        SetNoteValue(note, kNoteWaitedSlot, static_cast<LONG_PTR>(GetTickCount()));
        ShowWindow(note, SW_HIDE);
        return;
    }
    HWND container = GetParent(note);
    const bool focused = GetFocus() == note;
    EndEditor(container);
    DestroyWindow(note);
    if (focused)
        SetFocus(GetParent(container));
}

static LONG_PTR ButtonAt(HWND note, LPARAM point) {
    const NoteLayout layout = MeasureNote(note);
    const POINT at = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    for (LONG_PTR button : {kWaitButton, kEndButton})
        if (PtInRect(&layout.buttons[button], at))
            return button;
    return kNoButton;
}

static void PressNoteButton(HWND note, LPARAM point) {
    const LONG_PTR button = ButtonAt(note, point);
    if (button == kNoButton)
        return;
    SetNoteValue(note, kNotePressedSlot, button);
    SetNoteValue(note, kNoteFocusedSlot, button);
    SetCapture(note);
    if (FocusWaitsForNoOtherThread())
        SetFocus(note);
    InvalidateRect(note, nullptr, FALSE);
}

// A button acts when the mouse is released over the button it was pressed on.
static void ReleaseNoteButton(HWND note, LPARAM point) {
    const LONG_PTR pressed = NoteValue(note, kNotePressedSlot);
    if (pressed == kNoButton)
        return;
    ReleaseCapture();
    if (ButtonAt(note, point) == pressed)
        ChooseNoteButton(note, pressed);
}

static void OnNoteCaptureLost(HWND note) {
    SetNoteValue(note, kNotePressedSlot, kNoButton);
    InvalidateRect(note, nullptr, FALSE);
}

// Tab and the arrow keys move between the two buttons, Enter and Space choose one. Esc
// closes a stand-alone lister, as it does in the editor, and nothing in quick view; every
// other key goes to the container, as it would without the note.
static LRESULT OnNoteKey(HWND note, WPARAM key, LPARAM lParam) {
    switch (key) {
    case VK_TAB:
    case VK_LEFT:
    case VK_RIGHT:
        SetNoteValue(note, kNoteFocusedSlot, NoteValue(note, kNoteFocusedSlot) == kWaitButton ? kEndButton : kWaitButton);
        InvalidateRect(note, nullptr, FALSE);
        return 0;
    case VK_RETURN:
    case VK_SPACE:
        ChooseNoteButton(note, NoteValue(note, kNoteFocusedSlot));
        return 0;
    case VK_ESCAPE:
        if (HWND root = GetAncestor(note, GA_ROOT); !IsHostMainWindow(root))
            PostMessageW(root, WM_CLOSE, 0, 0);
        return 0;
    default:
        return SendMessageW(GetParent(note), WM_KEYDOWN, key, lParam);
    }
}

static LRESULT CALLBACK HungNoteProc(HWND note, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        CreateNoteFont(note);
        return 0;
    case WM_PAINT:
        PaintNote(note);
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(note, nullptr, FALSE);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        PressNoteButton(note, lParam);
        return 0;
    case WM_LBUTTONUP:
        ReleaseNoteButton(note, lParam);
        return 0;
    case WM_CAPTURECHANGED:
        OnNoteCaptureLost(note);
        return 0;
    case WM_KEYDOWN:
        return OnNoteKey(note, wParam, lParam);
    case WM_DESTROY:
        DeleteObject(reinterpret_cast<HGDIOBJ>(NoteValue(note, kNoteFontSlot)));
        return 0;
    default:
        return DefWindowProcW(note, msg, wParam, lParam);
    }
}

void RegisterHungNoteClass() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = HungNoteProc;
    windowClass.cbWndExtra = kNoteSlotCount * sizeof(LONG_PTR);
    windowClass.hInstance = gModule;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kHungNoteClass;
    RegisterClassExW(&windowClass);
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
        SetFocus(note);
}

// The editor answers again: the note goes, and the editor is drawn as it is.
static void TakeNoteAway(HWND container, HWND note) {
    DestroyWindow(note);
    ResumeEditorPainting(container);
}

void WatchForHungEditor(HWND container) {
    // A container that has left the lister is closing, which waits for the editor on its own.
    if (!HasStyle(container, WS_CHILD)) {
        KillTimer(container, kHangWatchTimer);
        if (HWND note = NoteOf(container))
            DestroyWindow(note);
        return;
    }
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
