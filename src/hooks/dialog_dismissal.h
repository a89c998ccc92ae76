// What both hooks do when the user answers one of the editor's message dialogs.
#pragma once

#include <windows.h>

// A left click at the pointer, marked so that the mouse hook knows its release as ours.
void ClickAtPointer();

// Clicks at the pointer and, when the dialog's focused control has identifier 2, closes
// the dialog and takes the user back to the host. anchor is the window whose top-level
// ancestor's parent chain leads to the lister or host main window. Returns the window
// that is the focus root from here on: the host main window after a stand-alone lister
// was asked to close, else focusRoot.
HWND DismissEditorDialog(HWND anchor, HWND focusRoot);
