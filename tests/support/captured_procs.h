// The plug-in's hook procedures and container window procedure, which it does not
// export, obtained by running its real ListLoadW inside the test process: a fake
// CreateProcessW reports this process and thread as the "editor", a top-level "Velnote4"
// window of the test's own stands in for the editor main window, and a fake
// SetWindowsHookExW keeps the procedure pointers instead of installing hooks.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/plugin.h"
#include "support/plugin_fakes.h"

struct CapturedProcs {
    Plugin plugin;
    HOOKPROC keyboardHook = nullptr;
    HOOKPROC mouseHook = nullptr;
    WNDPROC containerProc = nullptr;
    HWND container = nullptr;  // what ListLoadW returned: the plug-in's window inside the lister window
    HWND editor = nullptr;     // the test's "Velnote4" window, now the container's first child, named "editor"
};

// Loads a fresh copy of the plug-in, gives it a settings file and an editor file in its
// folder, and runs ListLoadW(lister, a file of that folder). The stand-in editor window
// records its messages (recorder.h). Fails the test when a procedure could not be captured.
// No hook is installed and no input is injected; the recording is cleared on return.
CapturedProcs CaptureProcs(HWND lister);

// Destroys the container (with the stand-in editor inside) and unloads the plug-in.
void ReleaseProcs(CapturedProcs& procs);

// A fixture with the procedures captured on a recorded top-level lister window and the
// fakes of plugin_fakes.h bound on the plug-in; the recording is empty when a test begins.
// The lister's class and name are the derived fixture's: a test whose arrangements bring
// their own "TLister" keeps this one out of their way with a class of its own.
class CapturedProcsTest : public testing::Test {
protected:
    CapturedProcsTest(const wchar_t* listerClass, const char* listerName)
        : listerClass_(listerClass), listerName_(listerName) {}
    void SetUp() override;
    void TearDown() override;

    HWND lister_ = nullptr;
    CapturedProcs procs_;
    std::unique_ptr<PluginFakes> fakes_;

private:
    const wchar_t* listerClass_;
    const char* listerName_;
};
