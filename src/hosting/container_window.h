// The plug-in's own windows: the container, a child of the lister window, and inside it the
// holder of the editor main window.
#pragma once

#include <windows.h>

void RegisterContainerClass();
// The container, a child of the lister window, with the editor holder inside.
HWND CreateContainerWindow(HWND listerWindow);
// A holder for the editor main window, a child of parent (a container).
HWND CreateEditorHolder(HWND parent);
// The editor main window inside the container's holder; null when there is none.
HWND EmbeddedEditor(HWND container);

// An open dialog of the embedded editor (visible, of the editor's process, owned by the editor
// main window or by the top-level window above the container); null when there is none.
HWND FindEditorDialog(HWND container, HWND editor);
