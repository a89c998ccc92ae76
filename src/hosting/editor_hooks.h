// Installing the input hooks on the editor's GUI thread, and removing them when the viewer closes.
#pragma once

#include <windows.h>

void InstallEditorHooks(HWND container, DWORD editorThread);
void RemoveEditorHooks(HWND container);
