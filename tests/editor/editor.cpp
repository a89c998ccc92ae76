// The stand-in editor: a small program with the windows, menus, dialogs and commands that
// the plug-in relies on in the real editor, and nothing more. It writes what reaches it to
// the log named by VELNOTE_EDITOR_LOG, one line per event (README.md in this folder).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>

namespace {

constexpr wchar_t kMainClass[] = L"Velnote4";
constexpr wchar_t kSearchClass[] = L"VelnoteSearch";
constexpr wchar_t kSearchPanelClass[] = L"VelnoteSearchPanel";
constexpr wchar_t kDialogTitle[] = L"Velnote";

constexpr UINT kCmdPrint = 4108;
constexpr UINT kCmdMenuItem = 4109;
constexpr UINT kCmdCopy = 4154;
constexpr UINT kCmdSearchWithFlags = 4158;
constexpr UINT kCmdSearchNoFlags = 4159;
constexpr UINT kCmdAbout = 4201;

// Requests of the test bed, posted by a test (SendMessage would wait for the modal box).
constexpr UINT kAskCancelFocused = 40001;  // "Velnote" box, focus on identifier 2 (Cancel)
constexpr UINT kAskOkFocused = 40002;      // "Velnote" box, focus on identifier 1 (OK)
constexpr UINT kAskNearMissTitle = 40003;  // "Velnote " box (trailing blank), focus on identifier 2
constexpr UINT kOpenModeless = 40004;      // a modeless dialog with an edit field, owned by the main window

// Closing and hanging, for the plug-in's bounded waits: a posted request that stops the GUI
// thread for lParam milliseconds, and two ways to finish closing after WM_CLOSE returned.
constexpr UINT kHang = 40005;
enum class LateClose { kNone, kLoopEnds, kDestroyLater };
LateClose gLateClose;
DWORD gLateCloseMs;          // "endloop": tidy-up after the loop ended; "destroylater": delay of DestroyWindow
constexpr UINT_PTR kDestroyLaterTimer = 1;

constexpr wchar_t kForeignClass[] = L"VelnoteForeign";
constexpr int kModelessFieldId = 100;

HWND gMain;
HWND gEdit;
HWND gSearch;
HWND gSearchField;
WNDPROC gEditProc;
WNDPROC gSearchFieldProc;
WNDPROC gModelessFieldProc;
HWND gModeless;
std::wstring gLogPath;
bool gKeepOnFirstClose;  // mode "keep": the first WM_CLOSE is answered as after a cancelled save question

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// Opened, appended and closed per line, so that a test can read the log while we run.
void Log(const std::string& line) {
    if (gLogPath.empty())
        return;
    HANDLE file = CreateFileW(gLogPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string bytes = line + "\n";
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string Number(unsigned long long value) {
    return std::to_string(value);
}

std::string Hex(unsigned long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", value);
    return text;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length < 1024 ? std::wstring(value, length) : std::wstring();
}

const char* KeyMessageName(UINT msg) {
    switch (msg) {
    case WM_KEYDOWN:    return "WM_KEYDOWN";
    case WM_KEYUP:      return "WM_KEYUP";
    case WM_SYSKEYDOWN: return "WM_SYSKEYDOWN";
    case WM_CHAR:       return "WM_CHAR";
    default:            return nullptr;
    }
}

void LogKey(const char* target, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (const char* name = KeyMessageName(msg))
        Log(std::string("key ") + target + " " + name + " " + Number(wParam) + " " +
            Hex(static_cast<unsigned long long>(lParam) & 0xFFFFFFFFull));
}

void LogExit(int code) {
    Log("exit " + std::to_string(code));
}

void AskWithBox(UINT request, const wchar_t* title, UINT flags) {
    Log("dialog-open " + Number(request));
    int result = MessageBoxW(gMain, L"Stand-in editor question", title, flags);
    Log("dialog-result " + Number(request) + " " + std::to_string(result));
}

LRESULT CALLBACK SearchFieldProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SETTEXT)
        Log("search-text " + Utf8(lParam ? reinterpret_cast<const wchar_t*>(lParam) : L""));
    return CallWindowProcW(gSearchFieldProc, wnd, msg, wParam, lParam);
}

LRESULT CALLBACK SearchPanelProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(wnd, msg, wParam, lParam);
}

LRESULT CALLBACK SearchWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CLOSE:
        ShowWindow(wnd, SW_HIDE);
        return 0;
    default:
        return DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

// Search window → panel → field: the field is the first child of the first child.
void OpenSearchWindow(WPARAM command) {
    if (gSearch == nullptr) {
        gSearch = CreateWindowExW(0, kSearchClass, L"Find", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 100, 100, 300, 120, gMain,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
        HWND panel = CreateWindowExW(0, kSearchPanelClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 300, 80, gSearch, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
        gSearchField = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 8, 8, 200, 24, panel, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
        gSearchFieldProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(gSearchField, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SearchFieldProc)));
    }
    ShowWindow(gSearch, SW_SHOW);
    SetForegroundWindow(gSearch);
    SetActiveWindow(gSearch);
    SetFocus(gSearchField);
    Log("search-open " + Number(command) + " " + Hex(reinterpret_cast<ULONG_PTR>(gSearch)));
}

LRESULT CALLBACK ModelessFieldProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SETFOCUS)
        Log("modeless-focus " + Hex(reinterpret_cast<ULONG_PTR>(wnd)));
    return CallWindowProcW(gModelessFieldProc, wnd, msg, wParam, lParam);
}

// A modeless find dialog: a window of the system's dialog class with one edit field.
void OpenModelessDialog() {
    if (gModeless == nullptr) {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        gModeless = CreateWindowExW(0, L"#32770", L"Find", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 100, 100, 240, 80, gMain,
                                    nullptr, instance, nullptr);
        HWND field = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
                                     8, 8, 200, 22, gModeless, reinterpret_cast<HMENU>(kModelessFieldId), instance,
                                     nullptr);
        gModelessFieldProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ModelessFieldProc)));
        SetFocus(field);
    }
    ShowWindow(gModeless, SW_SHOW);
    Log("modeless-open " + Hex(reinterpret_cast<ULONG_PTR>(gModeless)) + " " +
        Hex(reinterpret_cast<ULONG_PTR>(GetDlgItem(gModeless, kModelessFieldId))));
}

LRESULT CALLBACK EditProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    LogKey("edit", msg, wParam, lParam);
    return CallWindowProcW(gEditProc, wnd, msg, wParam, lParam);
}

// Request kHang: the thread retrieves no message for the time given, as a real editor on a
// deadlock or a dead network drive; after 5 s the system counts it as hung.
void Hang(LPARAM milliseconds) {
    Log("hang " + Number(static_cast<ULONG_PTR>(milliseconds)));
    Sleep(static_cast<DWORD>(milliseconds));
    Log("hang-end");
}

// Modes "endloop:<ms>" and "destroylater:<ms>": WM_CLOSE returns with the window still there.
// Returns false when the mode does not close late.
bool CloseLate(HWND wnd) {
    switch (gLateClose) {
    case LateClose::kLoopEnds:
        PostQuitMessage(0);  // the window goes when the process ends
        return true;
    case LateClose::kDestroyLater:
        SetTimer(wnd, kDestroyLaterTimer, gLateCloseMs, nullptr);
        return true;
    default:
        return false;
    }
}

void DestroyLater(HWND wnd) {
    KillTimer(wnd, kDestroyLaterTimer);
    DestroyWindow(wnd);
}

// Mode "askclose:<ms>": the first WM_CLOSE asks "save changes?" in a box owned by the main
// window, and the user cancels it after <ms>: the window stays, as in mode "keep".
DWORD gAskOnCloseMs;

// Presses the button given as lParam in every message box of this thread, as its user would.
BOOL CALLBACK PressInDialog(HWND wnd, LPARAM button) {
    wchar_t name[16] = {};
    GetClassNameW(wnd, name, 16);
    if (std::wcscmp(name, L"#32770") == 0)
        PostMessageW(wnd, WM_COMMAND, static_cast<WPARAM>(button), 0);
    return TRUE;
}

// The user answers a question of this thread with a button once it has been open for a
// while. The time counts from the first tick of the question's own loop, when it shows: on a
// slow machine making the box takes a good part of that time.
struct PendingAnswer {
    WPARAM button;
    DWORD openMs;
    DWORD shownAt;
} gAnswer;

VOID CALLBACK AnswerWhenDue(HWND, UINT, UINT_PTR timer, DWORD) {
    if (gAnswer.shownAt == 0)
        gAnswer.shownAt = GetTickCount();
    if (GetTickCount() - gAnswer.shownAt < gAnswer.openMs)
        return;
    KillTimer(nullptr, timer);
    EnumThreadWindows(GetCurrentThreadId(), PressInDialog, static_cast<LPARAM>(gAnswer.button));
}

void AnswerAfter(DWORD milliseconds, WPARAM button) {
    gAnswer = {button, milliseconds, 0};
    SetTimer(nullptr, 0, 10, AnswerWhenDue);
}

// Returns true when it asked (the window then stays).
bool AskOnClose() {
    if (gAskOnCloseMs == 0)
        return false;
    Log("close-question-open");
    AnswerAfter(gAskOnCloseMs, IDCANCEL);
    gAskOnCloseMs = 0;
    int result = MessageBoxW(gMain, L"Save changes?", kDialogTitle, MB_YESNOCANCEL);
    Log("close-question-result " + std::to_string(result));
    return true;
}

void ReadLateCloseMode(const std::wstring& mode) {
    if (mode.rfind(L"askclose:", 0) == 0)
        gAskOnCloseMs = static_cast<DWORD>(std::wcstoul(mode.c_str() + 9, nullptr, 10));
    for (const auto& [prefix, kind] : {std::pair{L"endloop:", LateClose::kLoopEnds},
                                       std::pair{L"destroylater:", LateClose::kDestroyLater}}) {
        const std::wstring start = prefix;
        if (mode.rfind(start, 0) == 0) {
            gLateClose = kind;
            gLateCloseMs = static_cast<DWORD>(std::wcstoul(mode.c_str() + start.size(), nullptr, 10));
        }
    }
}

void OnCommand(WPARAM wParam, LPARAM lParam) {
    // Notifications of our own edit control are the editor's business, not the plug-in's.
    if (reinterpret_cast<HWND>(lParam) == gEdit)
        return;
    Log("command " + Number(wParam) + " " + Hex(static_cast<ULONG_PTR>(lParam)));
    switch (LOWORD(wParam)) {
    case kCmdSearchWithFlags:
    case kCmdSearchNoFlags:
        OpenSearchWindow(LOWORD(wParam));
        return;
    case kAskCancelFocused:
        AskWithBox(kAskCancelFocused, kDialogTitle, MB_OKCANCEL | MB_DEFBUTTON2);
        return;
    case kAskOkFocused:
        AskWithBox(kAskOkFocused, kDialogTitle, MB_OKCANCEL);
        return;
    case kAskNearMissTitle:
        AskWithBox(kAskNearMissTitle, L"Velnote ", MB_OKCANCEL | MB_DEFBUTTON2);
        return;
    case kOpenModeless:
        OpenModelessDialog();
        return;
    case kHang:
        Hang(lParam);
        return;
    }
}

LRESULT CALLBACK MainWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    LogKey("main", msg, wParam, lParam);
    switch (msg) {
    case WM_COMMAND:
        OnCommand(wParam, lParam);
        return 0;
    case WM_SIZE:
        MoveWindow(gEdit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_SETFOCUS:
        SetFocus(gEdit);
        return 0;
    case WM_CLOSE:
        Log("close");
        if (gKeepOnFirstClose) {
            gKeepOnFirstClose = false;
            return 0;
        }
        if (AskOnClose())
            return 0;
        if (!CloseLate(wnd))
            DestroyWindow(wnd);
        return 0;
    case WM_TIMER:
        if (wParam == kDestroyLaterTimer)
            DestroyLater(wnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

HMENU CreateMainMenu() {
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, kCmdPrint, L"&Print");
    AppendMenuW(file, MF_STRING, kCmdCopy, L"&Copy");
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    AppendMenuW(bar, MF_STRING, kCmdMenuItem, L"&Settings");
    AppendMenuW(bar, MF_STRING, kCmdAbout, L"&About");
    return bar;
}

// Mode "foreign": another program's window, which closes and ends the program on WM_CLOSE.
LRESULT CALLBACK ForeignWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    LogKey("foreign", msg, wParam, lParam);
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(wnd, msg, wParam, lParam);
}

// Mode "ask:<ms>": the question closes itself, as if the user answered it.
void AskBeforeTheMainWindow(DWORD milliseconds) {
    Log("question-open");
    AnswerAfter(milliseconds, IDOK);
    int result = MessageBoxW(nullptr, L"Stand-in editor question before its window", kDialogTitle, MB_OKCANCEL);
    Log("question-result " + std::to_string(result));
}

void RegisterClasses(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.lpszClassName = kMainClass;
    RegisterClassExW(&windowClass);
    windowClass.lpfnWndProc = SearchWindowProc;
    windowClass.lpszClassName = kSearchClass;
    RegisterClassExW(&windowClass);
    windowClass.lpfnWndProc = SearchPanelProc;
    windowClass.lpszClassName = kSearchPanelClass;
    RegisterClassExW(&windowClass);
    windowClass.lpfnWndProc = ForeignWindowProc;
    windowClass.lpszClassName = kForeignClass;
    RegisterClassExW(&windowClass);
}

// Mode "stall:<ms>": the thread stops reading messages right after the main window is shown,
// before it focuses its edit control, as an editor busy finishing its start-up. Mode "grab:<ms>"
// first makes the window the foreground window and focuses the edit control, as some editors do
// at start-up: keys typed during the stall wait in its queue.
DWORD gStallAfterShowMs;
bool gGrabForeground;

void StallAfterShow() {
    if (gStallAfterShowMs == 0)
        return;
    if (gGrabForeground) {
        SetForegroundWindow(gMain);
        SetFocus(gEdit);
    }
    Log((gGrabForeground ? "grab " : "stall ") + Number(gStallAfterShowMs));
    Sleep(gStallAfterShowMs);
}

// Position and size come from the starting process (CW_USEDEFAULT takes them from STARTUPINFO).
void CreateMainWindow(HINSTANCE instance, int show, bool topmost) {
    gMain = CreateWindowExW(topmost ? WS_EX_TOPMOST : 0, kMainClass, L"Velnote stand-in", WS_OVERLAPPEDWINDOW,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, CreateMainMenu(),
                            instance, nullptr);
    gEdit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN, 0, 0, 100, 100, gMain,
                            nullptr, instance, nullptr);
    gEditProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(gEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc)));
    Log("window " + Hex(reinterpret_cast<ULONG_PTR>(gMain)) + " " + Hex(reinterpret_cast<ULONG_PTR>(gEdit)));
    ShowWindow(gMain, show);
    UpdateWindow(gMain);
    StallAfterShow();
    SetFocus(gEdit);
    Log("shown");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    gLogPath = Environment(L"VELNOTE_EDITOR_LOG");
    std::wstring mode = Environment(L"VELNOTE_EDITOR_MODE");
    Log("start " + Number(GetCurrentProcessId()) + " " + Number(GetCurrentThreadId()));
    Log("cmdline " + Utf8(GetCommandLineW()));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    Log("startup " + Hex(startup.dwFlags) + " " + Number(startup.wShowWindow) + " " + Number(startup.dwX) + " " +
        Number(startup.dwY) + " " + Number(startup.dwXSize) + " " + Number(startup.dwYSize));

    if (mode == L"exit") {
        LogExit(0);
        return 0;
    }
    if (mode == L"never") {
        for (;;)
            Sleep(INFINITE);
    }
    if (mode.rfind(L"late", 0) == 0) {
        DWORD delay = mode.size() > 5 && mode[4] == L':' ? static_cast<DWORD>(std::wcstoul(mode.c_str() + 5, nullptr, 10))
                                                          : 500;
        Sleep(delay);
    }
    gGrabForeground = mode.rfind(L"grab:", 0) == 0;
    if (mode.rfind(L"stall:", 0) == 0 || gGrabForeground)
        gStallAfterShowMs = static_cast<DWORD>(std::wcstoul(mode.c_str() + mode.find(L':') + 1, nullptr, 10));
    if (mode.rfind(L"ask:", 0) == 0)
        AskBeforeTheMainWindow(static_cast<DWORD>(std::wcstoul(mode.c_str() + 4, nullptr, 10)));
    gKeepOnFirstClose = mode == L"keep";
    ReadLateCloseMode(mode);

    RegisterClasses(instance);
    if (mode == L"foreign") {
        HWND foreign = CreateWindowExW(0, kForeignClass, L"Another program", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
        Log("foreign " + Hex(reinterpret_cast<ULONG_PTR>(foreign)));
        ShowWindow(foreign, show);
    } else {
        CreateMainWindow(instance, show, mode == L"topmost");
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (gLateClose == LateClose::kLoopEnds)
        Sleep(gLateCloseMs);  // the tidy-up of a framework whose loop ended
    LogExit(static_cast<int>(msg.wParam));
    return static_cast<int>(msg.wParam);
}
