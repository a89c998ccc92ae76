// The plug-in's own window classes.
#pragma once

#include <windows.h>

// Registers a window class of this module, with the arrow cursor. Each use registers it again:
// from the second in a process the class exists already and the registration fails harmlessly.
void RegisterModuleClass(const wchar_t* name, WNDPROC procedure, UINT style = 0, int extraBytes = 0);
