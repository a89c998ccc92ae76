// Watching, from a thread of the test process, who holds the foreground and whether a window
// stands on the desktop, while the test's own thread is inside the plug-in.
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

// Samples every millisecond from its own thread until stopped.
class WindowWatch {
public:
    // watched: the window whose showing is looked for; null for none.
    explicit WindowWatch(HWND watched = nullptr);
    ~WindowWatch();
    WindowWatch(const WindowWatch&) = delete;
    WindowWatch& operator=(const WindowWatch&) = delete;
    void Stop();

    // How long a window of another process was the foreground window.
    double ForeignForegroundMs() const { return foreignForegroundMs_; }
    // Whether the watched window was ever a visible top-level window that is not minimised, or
    // the foreground window while not minimised.
    bool WatchedShownOnTop() const { return watchedShownOnTop_; }
    bool WatchedForeground() const { return watchedForeground_; }

private:
    void Run(HWND watched);
    std::atomic<bool> stop_{false};
    std::atomic<bool> watchedShownOnTop_{false};
    std::atomic<bool> watchedForeground_{false};
    double foreignForegroundMs_ = 0;  // written by the watching thread, read after Stop
    std::thread thread_;
};
