// The plug-in's hook procedures and container window procedure, which it does not
// export, obtained by running its real ListLoadW inside the test process: a fake
// CreateProcessW reports this process and thread as the "editor", a top-level "Velnote4"
// window of the test's own stands in for the editor main window, and a fake
// SetWindowsHookExW keeps the procedure pointers instead of installing hooks.
#pragma once

#include <windows.h>

#include <string>

#include "support/plugin.h"

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
