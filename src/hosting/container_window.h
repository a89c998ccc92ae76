// The plug-in's own windows: the container, a child of the lister window, and inside it the
// holder of the editor main window.
#pragma once

#include <windows.h>

void RegisterContainerClass();
// The container, a child of the lister window, with the editor holder inside.
HWND CreateContainerWindow(HWND listerWindow);
