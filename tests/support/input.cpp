#include "support/input.h"

#include "support/editor.h"

void PressKey(BYTE key) {
    keybd_event(key, static_cast<BYTE>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)), 0, 0);
}

void ReleaseKey(BYTE key) {
    keybd_event(key, static_cast<BYTE>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)), KEYEVENTF_KEYUP, 0);
}

// Under Wine the desktop process ends when the last program using it has gone, and until a
// new program has its desktop window the pointer is clipped to an empty rectangle: it
// stays at (0, 0) whatever SetCursorPos is told. GetDesktopWindow brings the desktop back.
// On an X display a move reaches the windows it crosses as X events, which their threads
// read when they next look at their messages. Wine's X11 driver then takes the pointer's
// place from each event, one that was read late even puts it back where it was, and with the
// window entered it takes the key state from the X server, which never saw a key injected
// here: a key pressed before then reads as up again. So the move is made until the pointer
// stays where it was sent and no thread has reported a move of it for a while, and the window
// under it has answered a message sent after that.
constexpr DWORD kPointerQuietMs = 50;  // no move reported for this long: every thread has read its events

bool InputWatcher::MovePointerTo(POINT screen) {
    GetDesktopWindow();
    size_t moves = Count(WM_MOUSEMOVE);
    DWORD quietSince = GetTickCount();
    POINT now = {};
    const bool settled = PumpUntil([&] {
        GetCursorPos(&now);
        if (now.x != screen.x || now.y != screen.y) {
            SetCursorPos(screen.x, screen.y);
            quietSince = GetTickCount();
            return false;
        }
        if (Count(WM_MOUSEMOVE) != moves) {
            moves = Count(WM_MOUSEMOVE);
            quietSince = GetTickCount();
        }
        return GetTickCount() - quietSince >= kPointerQuietMs;
    }, 2000);
    if (HWND under = WindowFromPoint(now))
        SendMessageTimeoutW(under, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
    return settled;
}

void LeftClick() {
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
}

// The hook procedures have no context argument: the one watcher's record lives here.
static std::mutex gSeenMutex;
static std::vector<SeenInput> gSeen;

static LRESULT CALLBACK WatchKeys(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto& data = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        std::lock_guard<std::mutex> lock(gSeenMutex);
        gSeen.push_back({static_cast<UINT>(wParam), data.vkCode, (data.flags & LLKHF_INJECTED) != 0, data.dwExtraInfo});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

static LRESULT CALLBACK WatchMouse(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto& data = *reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        std::lock_guard<std::mutex> lock(gSeenMutex);
        gSeen.push_back({static_cast<UINT>(wParam), 0, (data.flags & LLMHF_INJECTED) != 0, data.dwExtraInfo});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

InputWatcher::InputWatcher() {
    Clear();
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] { Run(ready); });
    WaitForSingleObject(ready, 5000);
    CloseHandle(ready);
}

void InputWatcher::Run(HANDLE ready) {
    threadId_ = GetCurrentThreadId();
    HHOOK keys = SetWindowsHookExW(WH_KEYBOARD_LL, WatchKeys, GetModuleHandleW(nullptr), 0);
    HHOOK mouse = SetWindowsHookExW(WH_MOUSE_LL, WatchMouse, GetModuleHandleW(nullptr), 0);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before the quit request can come
    watching_ = keys != nullptr && mouse != nullptr;
    SetEvent(ready);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    if (keys)
        UnhookWindowsHookEx(keys);
    if (mouse)
        UnhookWindowsHookEx(mouse);
}

InputWatcher::~InputWatcher() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
}

std::vector<SeenInput> InputWatcher::Seen() const {
    std::lock_guard<std::mutex> lock(gSeenMutex);
    return gSeen;
}

size_t InputWatcher::Count(UINT message, DWORD key) const {
    size_t count = 0;
    for (const SeenInput& input : Seen())
        if (input.message == message && (key == 0 || input.key == key))
            ++count;
    return count;
}

void InputWatcher::Clear() {
    std::lock_guard<std::mutex> lock(gSeenMutex);
    gSeen.clear();
}
