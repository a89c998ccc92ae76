// The state that the plug-in's files share, one copy in each process that maps it. The text
// buffer is filled right before each use and used before the thread waits for anything, so
// that a hook called inside a wait never finds it in use.
#pragma once

#include <windows.h>

#include "common/names.h"

extern HINSTANCE gModule;         // this mapping's instance handle, recorded on process attach
extern wchar_t gText[kPathChars];  // class names, window texts and messages; filled right before each use
