// Finding the top-level windows of the editor's process among those of every process.
#pragma once

#include <windows.h>

// The next top-level window of the class (null: of any class) after `after` (null: the first)
// that belongs to the process, in Z order; null when there is none.
HWND NextWindowOfProcess(const wchar_t* className, DWORD processId, HWND after);

// The first visible top-level window of the class (null: of any class) that belongs to the
// process; null when it shows none.
HWND VisibleWindowOfProcess(const wchar_t* className, DWORD processId);
