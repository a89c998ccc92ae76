// Closes the message boxes that the code under test shows on this process's threads, and
// keeps what they said.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SeenMessageBox {
    std::wstring text;     // the message
    std::wstring caption;  // the window title
    HWND owner = nullptr;  // GetWindow(box, GW_OWNER)
    bool errorIcon = false;  // the box shows the system's error (hand) icon
};

// A thread that looks for a visible "#32770" window of this process every few
// milliseconds, records it and closes it with IDOK. Stops when destroyed.
class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    std::vector<SeenMessageBox> Seen() const;
    std::vector<std::wstring> Texts() const;

private:
    void Watch();
    mutable std::mutex mutex_;
    std::vector<SeenMessageBox> seen_;
    std::vector<HWND> closed_;
    HANDLE stop_;
    std::thread thread_;
};
