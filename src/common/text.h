// Bounded text building and the exact comparisons that the hooks and exports share.
#pragma once

#include <windows.h>

#include <initializer_list>

// Writes format into out (capacity chars, terminator included), each %s replaced by the
// next of args. Always terminates out; returns false when the result had to be cut short.
bool FormatText(wchar_t* out, int capacity, const wchar_t* format, std::initializer_list<const wchar_t*> args);

bool ContainsOne(const wchar_t* value);
bool IsKeyDown(SHORT state);

// Every read below goes into gText; a failed query (null or destroyed window) reads as
// the empty string, which matches none of the names compared with. Every comparison is
// exact and over the whole string.
void ReadClassName(HWND wnd);
bool TextIs(const wchar_t* literal);
bool TextIsHostMainClass();  // "TTOTAL_CMD" or "FreeCommanderXE.SingleInst.1"

bool ClassNameIs(HWND wnd, const wchar_t* name);
bool WindowTextIs(HWND wnd, const wchar_t* text);
bool IsHostMainWindow(HWND wnd);
