// Whole viewers, end to end: the real plug-in opens the stand-in editor in its own process
// and embeds it in host windows of this process; the test then drives the viewer through
// the exports, as the host does, and observes the platform calls the plug-in makes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/editor.h"
#include "support/host_windows.h"
#include "support/iat.h"
#include "support/plugin.h"
#include "support/stand_in_test.h"

enum class ViewerMode { kLister, kQuickView };

// One open viewer. Movable; when it goes out of scope while its container still exists,
// it is closed through ListCloseWindow, and its host windows are destroyed.
class Viewer {
public:
    Viewer() = default;
    ~Viewer();
    Viewer(Viewer&& other) noexcept;
    Viewer& operator=(Viewer&& other) noexcept;
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // ListLoadW returned a container holding a "Velnote4" child of a running editor process.
    bool IsOpen() const { return container != nullptr && editor != nullptr && process != nullptr; }
    // Waits for the editor process to end; true when it ended with exit code 0.
    bool WaitForEditorExit(DWORD timeoutMs = 5000) const;

    HostWindows host;
    HWND container = nullptr;   // named "container" in the recording
    HWND editor = nullptr;      // the container's first child after ListLoadW, named "editor"
    DWORD processId = 0;        // the process that owns editor
    HANDLE process = nullptr;   // opened by the test (SYNCHRONIZE, limited query), closed by the destructor
    HHOOK keyboardHook = nullptr;  // what SetWindowsHookExW(WH_KEYBOARD, ...) returned to ListLoadW
    HHOOK mouseHook = nullptr;     // what SetWindowsHookExW(WH_MOUSE, ...) returned to ListLoadW
    decltype(&ListCloseWindow) close = nullptr;

private:
    void Release();
};

// The stand-in fixture (stand_in_test.h) with the stand-in installed as the plug-in's editor.
class ViewerTest : public StandInTest {
protected:
    void SetUp() override;

    // Opens a viewer on file_: a stand-alone "TLister" window, or a quick-view lister inside a
    // host main window of hostClass, which is made the foreground window before ListLoadW.
    // Fails the test (without aborting it) when the viewer did not open; check IsOpen().
    Viewer Open(ViewerMode mode, const wchar_t* hostClass = L"TTOTAL_CMD");
};

// Import-table fakes on the plug-in module that record into the recorder (recorder.h) and
// then do what the platform does:
//   SendMessageW(w, m, wp, lp)      {"SendMessageW", name(w), m, wp, lp}
//   SendMessageTimeoutW(w, m, wp, lp, flags, ms, result)
//                                   {"SendMessageTimeoutW", name(w), m, wp, lp}
//   PostMessageW(w, m, wp, lp)      {"PostMessageW", name(w), m, wp, lp}
//   GetActiveWindow()               {"GetActiveWindow", name(result)}
//   ShowWindow(w, show)             {"ShowWindow", name(w), show}
//   CloseWindow(w)                  {"CloseWindow", name(w)}
//   UnhookWindowsHookEx(h)          {"UnhookWindowsHookEx", "keyboard hook" | "mouse hook" | hex}
//   RegDeleteKeyW(root, subkey)     {"RegDeleteKeyW", "HKCU\<subkey>" (or the root in hex)}
//   DestroyWindow(w)                {"DestroyWindow", name(w)}
// A hook reads as "keyboard hook" or "mouse hook" when ListLoadW obtained it through
// ViewerTest::Open.
class RecordingFakes {
public:
    explicit RecordingFakes(HMODULE module);
    RecordingFakes(const RecordingFakes&) = delete;
    RecordingFakes& operator=(const RecordingFakes&) = delete;

private:
    std::vector<std::unique_ptr<ScopedImport>> imports_;
};

// Whether the window that received WM_CLOSE through a fake send was visible at
// that moment (IsWindowVisible); false before any WM_CLOSE.
bool VisibleWhenAskedToClose();

// Every editor hook handle SetWindowsHookExW returned to ListLoadW in ViewerTest::Open, and every
// handle the plug-in passed to UnhookWindowsHookEx while RecordingFakes were bound, in order.
const std::vector<HHOOK>& InstalledHooks();
const std::vector<HHOOK>& RemovedHooks();

// The handle values of this process that GetHandleInformation accepts, probed over the
// first 64K values (Wine hands out small handle values; GetProcessHandleCount reads 0 there).
std::vector<ULONG_PTR> OpenHandleValues();
// The kind of object a handle value of this process refers to ("Event", "Process", ...), for
// failure messages; "?" when the system does not say.
std::string HandleKind(ULONG_PTR value);
// This process's windows: top-level and message-only windows and every descendant of them.
int CountOwnWindows();

// A hexadecimal handle value as the stand-in editor's log writes it ("0x1a2b").
HWND ParseLoggedWindow(const std::string& hex);
