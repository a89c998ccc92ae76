// The host's windows and menu, calling the plug-in the way the file manager does: the
// container window the plug-in returns fills the lister window, every menu command goes
// to the plug-in's export for it, and closing the window ends the view with
// ListCloseWindow first.
#include <cstdio>

#include "host.h"

// Module-wide state of the one view the host shows.
static const ListerPlugin* gPlugin = nullptr;  // the loaded plug-in's functions
static std::wstring gFileName;                  // the viewed file, for ListPrint
static HWND gContainer = nullptr;               // the plug-in's window; null once the view is closed
static wchar_t gSearchText[260] = {};           // the last text searched for, for Find next

static constexpr wchar_t kListerClass[] = L"TLister";
static constexpr wchar_t kMainClass[] = L"TTOTAL_CMD";
static constexpr wchar_t kQuickViewClass[] = L"TQuickViewPanel";

static void Report(const wchar_t* call, int result) {
    std::fwprintf(stdout, L"%ls returned %d\n", call, result);
    std::fflush(stdout);
}

static void FitChild(HWND wnd, HWND child, int left) {
    RECT client;
    GetClientRect(wnd, &client);
    MoveWindow(child, left, 0, client.right - left, client.bottom, TRUE);
}

// The main window keeps its left third for the file lists it does not have, as the
// quick-view panel would sit beside them.
static void PlaceQuickViewPanel(HWND mainWindow) {
    RECT client;
    GetClientRect(mainWindow, &client);
    FitChild(mainWindow, GetWindow(mainWindow, GW_CHILD), client.right / 3);
}

static void CloseView() {
    if (gContainer == nullptr)
        return;
    HWND container = gContainer;
    gContainer = nullptr;
    gPlugin->listCloseWindow(container);
    std::fwprintf(stdout, L"ListCloseWindow done\n");
    std::fflush(stdout);
}

static INT_PTR CALLBACK FindDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        SetDlgItemTextW(dialog, IDC_FIND_TEXT, gSearchText);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            GetDlgItemTextW(dialog, IDC_FIND_TEXT, gSearchText, ARRAYSIZE(gSearchText));
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

static bool AskSearchText(HWND owner) {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FIND), owner, FindDialogProc, 0) == IDOK &&
           gSearchText[0] != L'\0';
}

static void Find(HWND owner) {
    if (AskSearchText(owner))
        Report(L"ListSearchTextW(lcs_findfirst)", gPlugin->listSearchTextW(gContainer, gSearchText, kSearchFindFirst));
}

static void FindNext(HWND owner) {
    if (gSearchText[0] != L'\0' || AskSearchText(owner))
        Report(L"ListSearchTextW(0)", gPlugin->listSearchTextW(gContainer, gSearchText, 0));
}

// The file manager hands ListPrint the file name in the ANSI code page.
static void Print() {
    char fileName[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, gFileName.c_str(), -1, fileName, MAX_PATH, nullptr, nullptr);
    RECT margins = {};
    Report(L"ListPrint", gPlugin->listPrint(gContainer, fileName, nullptr, 0, &margins));
}

static void OnMenuCommand(HWND top, WORD id) {
    if (gContainer == nullptr)
        return;
    switch (id) {
    case IDM_FIND:       Find(top); return;
    case IDM_FIND_NEXT:  FindNext(top); return;
    case IDM_PRINT:      Print(); return;
    case IDM_COPY:       Report(L"ListSendCommand(lc_copy)", gPlugin->listSendCommand(gContainer, kCommandCopy, 0)); return;
    case IDM_SELECT_ALL: Report(L"ListSendCommand(lc_selectall)", gPlugin->listSendCommand(gContainer, kCommandSelectAll, 0)); return;
    case IDM_CLOSE:      PostMessageW(top, WM_CLOSE, 0, 0); return;
    }
}

// The stand-alone lister: the plug-in's container window is its one child.
static LRESULT CALLBACK ListerWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:    FitChild(wnd, GetWindow(wnd, GW_CHILD), 0); return 0;
    case WM_COMMAND: OnMenuCommand(wnd, LOWORD(wParam)); return 0;
    case WM_CLOSE:   CloseView(); DestroyWindow(wnd); return 0;
    case WM_DESTROY: CloseView(); PostQuitMessage(0); return 0;
    default:         return DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

// The main window holds the quick-view panel, whose one child is the container window.
static LRESULT CALLBACK MainWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:    PlaceQuickViewPanel(wnd); return 0;
    case WM_COMMAND: OnMenuCommand(wnd, LOWORD(wParam)); return 0;
    case WM_CLOSE:   CloseView(); DestroyWindow(wnd); return 0;
    case WM_DESTROY: CloseView(); PostQuitMessage(0); return 0;
    default:         return DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

static LRESULT CALLBACK QuickViewPanelProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE: FitChild(wnd, GetWindow(wnd, GW_CHILD), 0); return 0;
    default:      return DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

static void RegisterHostClass(const wchar_t* name, WNDPROC procedure, int background) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = GetSysColorBrush(background);
    windowClass.lpszClassName = name;
    RegisterClassExW(&windowClass);
}

static HWND CreateTopWindow(const wchar_t* className, const std::wstring& title) {
    return CreateWindowExW(0, className, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 40, 30, 900, 620, nullptr,
                           LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_HOST)), GetModuleHandleW(nullptr),
                           nullptr);
}

bool CreateHostWindows(const ListerPlugin& plugin, const std::wstring& fileName, bool quickView, HostWindows& windows) {
    gPlugin = &plugin;
    gFileName = fileName;
    RegisterHostClass(kListerClass, ListerWindowProc, COLOR_APPWORKSPACE);
    RegisterHostClass(kMainClass, MainWindowProc, COLOR_BTNFACE);
    RegisterHostClass(kQuickViewClass, QuickViewPanelProc, COLOR_APPWORKSPACE);
    if (quickView) {
        windows.top = CreateTopWindow(kMainClass, L"velnote-host (quick view) - " + fileName);
        windows.lister = CreateWindowExW(0, kQuickViewClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0,
                                         windows.top, nullptr, GetModuleHandleW(nullptr), nullptr);
    } else {
        windows.top = CreateTopWindow(kListerClass, L"velnote-host (lister) - " + fileName);
        windows.lister = windows.top;
    }
    if (windows.top == nullptr || windows.lister == nullptr)
        return false;
    if (quickView)
        PlaceQuickViewPanel(windows.top);
    ShowWindow(windows.top, SW_SHOW);
    UpdateWindow(windows.top);
    return true;
}

void AttachViewer(HWND container) {
    gContainer = container;
    HWND lister = GetParent(container);
    FitChild(lister, container, 0);
}
