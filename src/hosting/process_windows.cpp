#include "hosting/process_windows.h"

HWND NextWindowOfProcess(const wchar_t* className, DWORD processId, HWND after) {
    for (HWND wnd = FindWindowExW(nullptr, after, className, nullptr); wnd != nullptr;
         wnd = FindWindowExW(nullptr, wnd, className, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(wnd, &owner);
        if (owner == processId)
            return wnd;
    }
    return nullptr;
}

HWND VisibleWindowOfProcess(const wchar_t* className, DWORD processId) {
    for (HWND wnd = NextWindowOfProcess(className, processId, nullptr); wnd != nullptr;
         wnd = NextWindowOfProcess(className, processId, wnd))
        if (IsWindowVisible(wnd))
            return wnd;
    return nullptr;
}
