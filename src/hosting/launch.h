// Opening a viewer: the editor started on the file, waited for and embedded in a container
// inside the lister window.
#pragma once

#include <windows.h>

// The container with the editor inside; null when the editor cannot be used or started, did
// not become ready, or the user gave the launch up with an arrow key (the lister window is
// then destroyed too).
HWND LaunchViewer(HWND listerWindow, const wchar_t* fileName);
