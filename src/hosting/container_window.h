// The plug-in's own window: a child of the lister window that holds the editor main window.
#pragma once

#include <windows.h>

void RegisterContainerClass();
HWND CreateContainerWindow(HWND listerWindow);
