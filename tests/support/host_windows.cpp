#include "support/host_windows.h"

#include <utility>

static std::vector<HostMessage> gHostMessages;

std::vector<HostMessage> HostMessages() {
    return gHostMessages;
}

std::vector<HostMessage> HostMessagesOf(HWND wnd, UINT message) {
    std::vector<HostMessage> found;
    for (const HostMessage& entry : gHostMessages)
        if (entry.window == wnd && entry.message == message)
            found.push_back(entry);
    return found;
}

void ClearHostMessages() {
    gHostMessages.clear();
}

static LRESULT CALLBACK HostWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    gHostMessages.push_back({wnd, msg, wParam, lParam, GetKeyState(VK_CONTROL) < 0});
    switch (msg) {
    case WM_CLOSE:
        return 0;
    default:
        return DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

static void RegisterHostClass(const wchar_t* name) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = name;
    RegisterClassExW(&windowClass);  // fails harmlessly when registered before
}

HostWindows::~HostWindows() {
    if (main && IsWindow(main))
        DestroyWindow(main);
    else if (lister && IsWindow(lister))
        DestroyWindow(lister);
}

HostWindows::HostWindows(HostWindows&& other) noexcept
    : main(std::exchange(other.main, nullptr)), lister(std::exchange(other.lister, nullptr)) {}

HostWindows& HostWindows::operator=(HostWindows&& other) noexcept {
    std::swap(main, other.main);
    std::swap(lister, other.lister);
    return *this;
}

HostWindows CreateStandAloneLister(const wchar_t* listerClass) {
    RegisterHostClass(listerClass);
    HostWindows windows;
    windows.lister = CreateWindowExW(0, listerClass, L"Lister", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 50, 50, 640, 480,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(windows.lister, SW_SHOW);
    SetForegroundWindow(windows.lister);
    return windows;
}

HostWindows CreateQuickView(const wchar_t* mainClass, const wchar_t* listerClass) {
    RegisterHostClass(mainClass);
    RegisterHostClass(listerClass);
    HostWindows windows;
    windows.main = CreateWindowExW(0, mainClass, L"Host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20, 20, 800, 600,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    windows.lister = CreateWindowExW(0, listerClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 400, 0, 380, 500,
                                     windows.main, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(windows.main, SW_SHOW);
    SetForegroundWindow(windows.main);
    return windows;
}

std::wstring ClassOf(HWND wnd) {
    wchar_t name[260] = {};
    GetClassNameW(wnd, name, 260);
    return name;
}

DWORD ProcessOf(HWND wnd) {
    DWORD process = 0;
    GetWindowThreadProcessId(wnd, &process);
    return process;
}

HWND TopLevelWindowOf(DWORD processId, const wchar_t* className) {
    for (HWND wnd = FindWindowExW(nullptr, nullptr, className, nullptr); wnd != nullptr;
         wnd = FindWindowExW(nullptr, wnd, className, nullptr))
        if (ProcessOf(wnd) == processId)
            return wnd;
    return nullptr;
}

HWND EmbeddedEditorOf(HWND container) {
    return GetWindow(GetWindow(container, GW_CHILD), GW_CHILD);
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

RECT WindowRectOf(HWND wnd) {
    RECT rect = {};
    GetWindowRect(wnd, &rect);
    return rect;
}

RECT ClientRectOnScreen(HWND wnd) {
    RECT rect = {};
    GetClientRect(wnd, &rect);
    MapWindowPoints(wnd, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool SameRect(const RECT& a, const RECT& b) {
    return EqualRect(&a, &b) != 0;
}
