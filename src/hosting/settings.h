// The plug-in's settings file "velnote.ini" beside the DLL, and where the editor lies.
#pragma once

#include "common/names.h"

// Finds the settings file (creating it, with an empty "Options" section, when it is
// missing) and the editor path of this build, environment variables expanded. Returns
// false when the editor cannot be used; the user has then been told why, unless the
// plug-in's own path is too long to hold a settings file path.
bool ResolveEditor(wchar_t (&settingsFile)[kPathChars], wchar_t (&editorPath)[kPathChars]);

// The AskOpenBinFile value, empty when the key or the file is missing.
void ReadAskOpenBinFile(const wchar_t* settingsFile, wchar_t (&value)[kPathChars]);
