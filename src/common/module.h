// The plug-in's only module-wide state, one copy in each process that maps it.
#pragma once

#include <windows.h>

#include "common/names.h"

extern HINSTANCE gModule;         // this mapping's instance handle, recorded on process attach
extern wchar_t gText[kPathChars];  // class names, window texts and messages; filled right before each use
