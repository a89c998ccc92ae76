#include <cstring>

#include "common/module.h"
#include "hosting/launch.h"
#include "lister/detect_string.h"
#include "lister/exports.h"

HWND WINAPI ListLoadW(HWND listerWindow, wchar_t* fileName, int) {
    gText[0] = L'\0';
    // INVALID_FILE_ATTRIBUTES has the directory bit set too: a missing file is declined here.
    if (GetFileAttributesW(fileName) & FILE_ATTRIBUTE_DIRECTORY)
        return nullptr;
    return LaunchViewer(listerWindow, fileName);
}

HWND WINAPI ListLoad(HWND listerWindow, char* fileName, int showFlags) {
    wchar_t wideName[kPathChars] = {};
    // A name that does not fit converts to nothing; it is declined rather than cut short.
    if (MultiByteToWideChar(CP_ACP, 0, fileName, -1, wideName, kPathChars) == 0)
        return nullptr;
    return ListLoadW(listerWindow, wideName, showFlags);
}

void WINAPI ListGetDetectString(char* detectString, int maxLength) {
    if (detectString == nullptr || maxLength <= 0)
        return;
    // A cut-short expression would offer the plug-in for the wrong files, so a buffer
    // too small for the whole of it gets an empty one, which matches nothing.
    if (static_cast<size_t>(maxLength) < kDetectString.size()) {
        detectString[0] = '\0';
        return;
    }
    std::memcpy(detectString, kDetectString.data(), kDetectString.size());
}
