#include "support/plugin.h"

#include <gtest/gtest.h>

std::wstring WindowsPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

std::wstring BuiltPluginFile() {
    return WindowsPath(VELNOTE_PLUGIN_FILE);
}

std::wstring MakeTempDirectory(const wchar_t* prefix) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    for (unsigned attempt = 0;; ++attempt) {
        std::wstring directory = std::wstring(temp) + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount() + attempt);
        if (CreateDirectoryW(directory.c_str(), nullptr))
            return directory + L"\\";
    }
}

std::wstring MakeDirectoryOfLength(const std::wstring& parent, size_t length) {
    std::wstring directory = parent;
    while (length - directory.size() > 101) {
        directory += std::wstring(100, L'd');
        CreateDirectoryW(directory.c_str(), nullptr);
        directory += L'\\';
    }
    directory += std::wstring(length - directory.size(), L'd');
    EXPECT_TRUE(CreateDirectoryW(directory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        << "error " << GetLastError();
    return directory;
}

// A walk of its own rather than SHFileOperationW: Wine's cannot take paths beyond MAX_PATH,
// which some tests make, and was seen to empty the current folder instead.
void RemoveDirectoryTree(const std::wstring& directory) {
    std::wstring folder = directory;
    if (!folder.empty() && folder.back() != L'\\')
        folder.push_back(L'\\');
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryTree(folder + name);
            } else {
                SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW((folder + name).c_str());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

template <typename Function>
static void Bind(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    EXPECT_NE(function, nullptr) << name;
}

Plugin LoadPluginCopy(const std::wstring& directory) {
    Plugin plugin;
    plugin.directory = directory.empty() ? MakeTempDirectory(L"velnote-plugin") : directory;
    std::wstring file = plugin.directory + kPluginFileName;
    EXPECT_TRUE(CopyFileW(BuiltPluginFile().c_str(), file.c_str(), TRUE)) << "copy of the built plug-in";
    plugin.module = LoadLibraryW(file.c_str());
    EXPECT_NE(plugin.module, nullptr) << "LoadLibraryW, error " << GetLastError();
    if (plugin.module == nullptr)
        return plugin;
    Bind(plugin.module, "ListLoad", plugin.listLoad);
    Bind(plugin.module, "ListLoadW", plugin.listLoadW);
    Bind(plugin.module, "ListGetDetectString", plugin.listGetDetectString);
    Bind(plugin.module, "ListCloseWindow", plugin.listCloseWindow);
    Bind(plugin.module, "ListSearchText", plugin.listSearchText);
    Bind(plugin.module, "ListSearchTextW", plugin.listSearchTextW);
    Bind(plugin.module, "ListPrint", plugin.listPrint);
    Bind(plugin.module, "ListSendCommand", plugin.listSendCommand);
    return plugin;
}

void UnloadPlugin(Plugin& plugin) {
    if (plugin.module)
        FreeLibrary(plugin.module);
    plugin.module = nullptr;
    if (!plugin.directory.empty())
        RemoveDirectoryTree(plugin.directory);
}

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "create " << std::string(path.begin(), path.end());
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

bool InModule(HMODULE module, const void* address) {
    auto base = reinterpret_cast<const BYTE*>(module);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    auto at = static_cast<const BYTE*>(address);
    return at >= base && at < base + nt->OptionalHeader.SizeOfImage;
}
