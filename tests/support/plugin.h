// Loading the plug-in the way the host does: a fresh copy in a plug-in folder of its own,
// reached only through its exports.
#pragma once

#include <windows.h>

#include <string>

#include "lister/exports.h"

struct Plugin {
    HMODULE module = nullptr;
    std::wstring directory;  // the plug-in folder, with a trailing backslash
    decltype(&ListLoad) listLoad = nullptr;
    decltype(&ListLoadW) listLoadW = nullptr;
    decltype(&ListGetDetectString) listGetDetectString = nullptr;
    decltype(&ListCloseWindow) listCloseWindow = nullptr;
    decltype(&ListSearchText) listSearchText = nullptr;
    decltype(&ListSearchTextW) listSearchTextW = nullptr;
    decltype(&ListPrint) listPrint = nullptr;
    decltype(&ListSendCommand) listSendCommand = nullptr;
};

// What differs between the two builds, for the build that this test program loads: its
// file name, the folder below the plug-in folder where it looks for the editor by default,
// and the settings key that names the editor.
#ifdef _WIN64
inline constexpr wchar_t kPluginFileName[] = L"Velnote.wlx64";
inline constexpr wchar_t kDefaultEditorFolder[] = L"Velnote64\\";
inline constexpr char kOwnPathKey[] = "path64";
#else
inline constexpr wchar_t kPluginFileName[] = L"Velnote.wlx";
inline constexpr wchar_t kDefaultEditorFolder[] = L"Velnote\\";
inline constexpr char kOwnPathKey[] = "path";
#endif

// The built plug-in file of this test program's bitness, as a Windows path.
std::wstring BuiltPluginFile();
// A Windows path for a path of the build machine.
std::wstring WindowsPath(const std::string& unixPath);

// A new, empty folder below the temporary folder, with a trailing backslash.
std::wstring MakeTempDirectory(const wchar_t* prefix);
// Makes (or finds) a folder below parent (which ends with a backslash) whose path is exactly length
// characters without a trailing backslash, and returns that path. Plain paths beyond
// MAX_PATH work under Wine; on Windows they would need the \\?\ form.
std::wstring MakeDirectoryOfLength(const std::wstring& parent, size_t length);
void RemoveDirectoryTree(const std::wstring& directory);

// Copies the plug-in into a new folder (or into directory, which exists and ends with a
// backslash) and loads it from there. Fails the test on error.
Plugin LoadPluginCopy(const std::wstring& directory = L"");
void UnloadPlugin(Plugin& plugin);

// Whether an address lies in the image of a loaded module.
bool InModule(HMODULE module, const void* address);

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Text as UTF-8, for the editor log (which writes UTF-8) and for failure messages.
std::string ToUtf8(const std::wstring& text);
