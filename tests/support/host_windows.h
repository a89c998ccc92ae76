// Windows that play the host: a stand-alone lister window, and a host main window with a
// quick-view lister window inside. Their procedures record what reaches them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct HostMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool ctrlDown;  // GetKeyState(VK_CONTROL) as the window procedure saw it
};

// Every message that reached a host window of this thread, in order (WM_CLOSE is recorded
// and otherwise ignored: the window stays until the test destroys it).
std::vector<HostMessage> HostMessages();
// Only the messages of one kind that reached wnd.
std::vector<HostMessage> HostMessagesOf(HWND wnd, UINT message);
void ClearHostMessages();

// A host window arrangement; the destructor destroys whatever is still there.
class HostWindows {
public:
    HostWindows() = default;
    ~HostWindows();
    HostWindows(HostWindows&& other) noexcept;
    HostWindows& operator=(HostWindows&& other) noexcept;
    HostWindows(const HostWindows&) = delete;
    HostWindows& operator=(const HostWindows&) = delete;

    HWND main = nullptr;    // the host main window; null for a stand-alone lister
    HWND lister = nullptr;  // the window handed to ListLoadW
};

// A visible top-level lister window of class listerClass, 640 x 480, with nothing above it:
// lister mode.
HostWindows CreateStandAloneLister(const wchar_t* listerClass = L"TLister");
// A visible top-level host main window of class mainClass, 800 x 600, holding a visible child
// lister window of class listerClass: quick-view mode.
HostWindows CreateQuickView(const wchar_t* mainClass = L"TTOTAL_CMD", const wchar_t* listerClass = L"TLister");

// Facts about any window, for assertions.
std::wstring ClassOf(HWND wnd);
DWORD ProcessOf(HWND wnd);
// The first top-level window of the class that belongs to the process, looked for among all
// of that class as the plug-in looks for the editor; null when there is none.
HWND TopLevelWindowOf(DWORD processId, const wchar_t* className = L"Velnote4");
// The editor main window a container holds: the first child of the plug-in's holder, the
// container's first child; null when there is none.
HWND EmbeddedEditorOf(HWND container);
// The child windows of parent, first to last.
std::vector<HWND> ChildrenOf(HWND parent);
RECT WindowRectOf(HWND wnd);
// The client area in screen coordinates.
RECT ClientRectOnScreen(HWND wnd);
bool SameRect(const RECT& a, const RECT& b);
