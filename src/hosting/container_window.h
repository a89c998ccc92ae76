// The plug-in's own window: a child of the lister window that holds the editor main window.
#pragma once

#include <windows.h>

void RegisterContainerClass();
HWND CreateContainerWindow(HWND listerWindow);

// An open dialog of the embedded editor (visible, of the editor's process, owned by the editor
// main window or by the top-level window above the container); null when there is none.
HWND FindEditorDialog(HWND container, HWND editor);
