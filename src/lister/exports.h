// The lister functions the host calls. Exported under these plain names through
// velnote.def; in the 32-bit build each removes its own arguments from the stack.
#pragma once

#include <windows.h>

extern "C" {
HWND WINAPI ListLoad(HWND listerWindow, char* fileName, int showFlags);
HWND WINAPI ListLoadW(HWND listerWindow, wchar_t* fileName, int showFlags);
void WINAPI ListGetDetectString(char* detectString, int maxLength);
void WINAPI ListCloseWindow(HWND container);
int WINAPI ListSearchText(HWND container, char* searchString, int searchParameter);
int WINAPI ListSearchTextW(HWND container, wchar_t* searchString, int searchParameter);
int WINAPI ListPrint(HWND container, char* fileToPrint, char* defPrinter, int printFlags, RECT* margins);
int WINAPI ListSendCommand(HWND container, int command, int parameter);
}
