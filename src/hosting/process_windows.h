// Finding the editor's windows: its main window inside a container, and the top-level windows
// of its process among those of every process.
#pragma once

#include <windows.h>

// The next top-level window of the class (null: of any class) after `after` (null: the first)
// that belongs to the process, in Z order; null when there is none.
HWND NextWindowOfProcess(const wchar_t* className, DWORD processId, HWND after);

// The first visible top-level window of the class (null: of any class) that belongs to the
// process; null when it shows none.
HWND VisibleWindowOfProcess(const wchar_t* className, DWORD processId);

// The editor main window inside the container's holder; null when there is none.
HWND EmbeddedEditor(HWND container);

// An open dialog of the embedded editor (visible, of the editor's process, owned by the editor
// main window or by the top-level window above the container); null when there is none.
HWND FindEditorDialog(HWND container, HWND editor);
