// The test host: what its files share.
#pragma once

#include <windows.h>

#include <string>

#include "resource.h"

// The lister functions of the loaded plug-in, bound by name as the file manager binds them.
struct ListerPlugin {
    HMODULE module;
    HWND(WINAPI* listLoad)(HWND, char*, int);
    HWND(WINAPI* listLoadW)(HWND, wchar_t*, int);
    void(WINAPI* listGetDetectString)(char*, int);
    void(WINAPI* listCloseWindow)(HWND);
    int(WINAPI* listSearchText)(HWND, char*, int);
    int(WINAPI* listSearchTextW)(HWND, wchar_t*, int);
    int(WINAPI* listPrint)(HWND, char*, char*, int, RECT*);
    int(WINAPI* listSendCommand)(HWND, int, int);
};

// The host's own values of the lister interface.
inline constexpr int kSearchFindFirst = 1;  // lcs_findfirst
inline constexpr int kCommandCopy = 1;      // lc_copy
inline constexpr int kCommandSelectAll = 3; // lc_selectall

// The host's windows. In lister mode the lister window is the top-level "TLister" window;
// in quick-view mode it is a panel inside a top-level "TTOTAL_CMD" window.
struct HostWindows {
    HWND top;
    HWND lister;
};

// The editor main window inside the container: the plug-in keeps it in a window of its own
// between the two.
inline HWND EmbeddedEditor(HWND container) {
    return GetWindow(GetWindow(container, GW_CHILD), GW_CHILD);
}

bool CreateHostWindows(const ListerPlugin& plugin, const std::wstring& fileName, bool quickView, HostWindows& windows);
// Hands the container window the plug-in returned to the host windows, which size it and
// pass it to every later call until the view closes.
void AttachViewer(HWND container);

// Dispatches the calling thread's messages for a while; false when a WM_QUIT ended it.
bool PumpMessagesFor(DWORD milliseconds);
// Waits, dispatching messages, until the editor inside the container is visible and has
// had time to paint. False when it did not show within the deadline.
bool WaitForEditorShown(HWND container, DWORD deadlineMs);
// Captures the window as it shows on the screen and writes it as a PNG file.
bool SaveWindowScreenshot(HWND wnd, const std::wstring& pngFile);
// Writes 24-bit BGR rows, top row first, as a PNG file.
bool WritePng(const std::wstring& pngFile, int width, int height, const unsigned char* bgr);
