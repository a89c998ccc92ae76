// The two hooks that run on the editor's GUI thread, inside the editor process, and
// keep the host's keys working while the editor has the focus.
#pragma once

#include <windows.h>

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam);
