#include "hosting/settings.h"

#include <cwchar>

#include "common/module.h"
#include "common/text.h"

static void ShowError() {
    MessageBoxW(nullptr, gText, nullptr, MB_ICONERROR);
}

// The directory of this DLL, with its trailing backslash.
static bool GetPluginDirectory(wchar_t (&directory)[kPathChars]) {
    DWORD length = GetModuleFileNameW(gModule, directory, kPathChars);
    if (length == 0 || length >= kPathChars)
        return false;
    wchar_t* lastBackslash = std::wcsrchr(directory, L'\\');
    if (lastBackslash == nullptr)
        lastBackslash = directory + length;
    if (lastBackslash + 1 >= directory + kPathChars)
        return false;
    lastBackslash[0] = L'\\';
    lastBackslash[1] = L'\0';
    return true;
}

static void CreateSettingsFile(const wchar_t* settingsFile) {
    HANDLE file = CreateFileW(settingsFile, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FormatText(gText, kPathChars, kCannotCreateSettingsFormat, {kSettingsFileName, kDefaultEditor32, kDefaultEditor64});
        ShowError();
        return;
    }
    // The empty section is written as its bytes: WritePrivateProfileSectionW writes them on
    // Windows but leaves a new empty file empty under Wine.
    DWORD written = 0;
    WriteFile(file, kEmptySettingsFile, sizeof kEmptySettingsFile - 1, &written, nullptr);
    CloseHandle(file);
}

static bool ReportMissingEditor(const wchar_t* shownPath) {
    FormatText(gText, kPathChars, kCannotFindEditorFormat, {shownPath, kSettingsFileName});
    ShowError();
    return false;
}

bool ResolveEditor(wchar_t (&settingsFile)[kPathChars], wchar_t (&editorPath)[kPathChars]) {
    wchar_t directory[kPathChars] = {};
    if (!GetPluginDirectory(directory) || !FormatText(settingsFile, kPathChars, L"%s%s", {directory, kSettingsFileName}))
        return false;
    // A default path that does not fit is not offered; a missing key then reads as empty
    // and is reported like any editor that cannot be found.
    wchar_t defaultPath[kPathChars] = {};
    if (!FormatText(defaultPath, kPathChars, L"%s%s", {directory, kDefaultEditor}))
        defaultPath[0] = L'\0';

    if (GetFileAttributesW(settingsFile) == INVALID_FILE_ATTRIBUTES)
        CreateSettingsFile(settingsFile);

    // One character more than a path may hold, to tell a value that fits from one that was cut.
    wchar_t value[kPathChars + 1] = {};
    DWORD length = GetPrivateProfileStringW(kSettingsSection, kEditorPathKey, defaultPath, value, kPathChars + 1, settingsFile);
    if (length >= kPathChars)
        return ReportMissingEditor(value);
    DWORD needed = ExpandEnvironmentStringsW(value, editorPath, kPathChars);
    if (needed == 0 || needed > kPathChars)
        return ReportMissingEditor(value);
    if (GetFileAttributesW(editorPath) == INVALID_FILE_ATTRIBUTES)
        return ReportMissingEditor(editorPath);
    return true;
}

void ReadAskOpenBinFile(const wchar_t* settingsFile, wchar_t (&value)[kPathChars]) {
    GetPrivateProfileStringW(kSettingsSection, kAskOpenBinFileKey, L"", value, kPathChars, settingsFile);
}
