#include "support/window_watch.h"

#include "support/editor.h"
#include "support/host_windows.h"

WindowWatch::WindowWatch(HWND watched) : thread_([this, watched] { Run(watched); }) {}

WindowWatch::~WindowWatch() {
    Stop();
}

void WindowWatch::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void WindowWatch::Run(HWND watched) {
    double previous = CounterMilliseconds();
    bool foreign = false;
    while (!stop_) {
        Sleep(1);
        const double now = CounterMilliseconds();
        if (foreign)
            foreignForegroundMs_ += now - previous;
        previous = now;
        HWND front = GetForegroundWindow();
        foreign = front != nullptr && ProcessOf(front) != GetCurrentProcessId();
        if (watched == nullptr)
            continue;
        // A minimised window shows on the taskbar only; under Wine it may even be activated
        // there when the active window goes, without coming in front. The window changes while
        // it is looked at: it is minimised before it shows, and reads as not minimised once
        // destroyed, so it counts only when it still shows after it read as not minimised.
        const bool shown = IsWindowVisible(watched) && GetAncestor(watched, GA_ROOT) == watched;
        const bool restored = !IsIconic(watched) && IsWindowVisible(watched);
        if (shown && restored)
            watchedShownOnTop_ = true;
        if (front == watched && restored)
            watchedForeground_ = true;
    }
}
