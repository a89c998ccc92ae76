#include "common/module.h"

HINSTANCE gModule;
wchar_t gText[kPathChars];
