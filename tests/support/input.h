// Real input for end-to-end tests: keys and clicks injected the way a keyboard and a
// mouse deliver them, and a low-level hook thread that sees every injected event, the
// test's own and those that the code under test injects from another process.
#pragma once

#include <windows.h>

#include <mutex>
#include <thread>
#include <vector>

void PressKey(BYTE key);
void ReleaseKey(BYTE key);
// A left-button press and release at the pointer, without movement.
void LeftClick();

// One event as a low-level hook saw it.
struct SeenInput {
    UINT message;          // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_LBUTTONDOWN, WM_MOUSEMOVE, ...
    DWORD key;             // the virtual key; 0 for the mouse
    bool injected;         // LLKHF_INJECTED / LLMHF_INJECTED
    ULONG_PTR extraInfo;   // the extra information given to keybd_event or mouse_event
};

// A thread with a WH_KEYBOARD_LL and a WH_MOUSE_LL hook and a message loop of its own, so
// that the hooks are called whatever the test's thread is doing. Only one at a time.
class InputWatcher {
public:
    InputWatcher();
    ~InputWatcher();
    InputWatcher(const InputWatcher&) = delete;
    InputWatcher& operator=(const InputWatcher&) = delete;

    // True when both hooks were installed.
    bool watching() const { return watching_; }
    std::vector<SeenInput> Seen() const;
    // How many events of one message were seen, for keys only those of key (0: any key).
    size_t Count(UINT message, DWORD key = 0) const;
    void Clear();
    // Moves the pointer to a screen point, and returns once the window under it has taken
    // the move; false when the pointer did not get there.
    bool MovePointerTo(POINT screen);

private:
    void Run(HANDLE ready);
    bool watching_ = false;
    DWORD threadId_ = 0;
    std::thread thread_;
};
