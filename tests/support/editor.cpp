#include "support/editor.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cwchar>

#include "support/host_windows.h"
#include "support/plugin.h"

std::wstring StandInEditorFile() {
    return WindowsPath(VELNOTE_STANDIN_EDITOR_FILE);
}

static void CreateFolders(const std::wstring& path) {
    for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1))
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
}

void InstallStandInEditorAt(const std::wstring& path) {
    CreateFolders(path);
    ASSERT_TRUE(CopyFileW(StandInEditorFile().c_str(), path.c_str(), FALSE))
        << "copy of the stand-in editor, error " << GetLastError();
}

std::wstring InstallStandInEditor(const std::wstring& pluginDirectory) {
    std::wstring path = pluginDirectory + kDefaultEditorFolder + L"Velnote.exe";
    InstallStandInEditorAt(path);
    return path;
}

void SetTestEnvironment(const wchar_t* name, const wchar_t* value) {
    SetEnvironmentVariableW(name, value);
}

void SetEditorMode(const wchar_t* mode) {
    SetEnvironmentVariableW(L"VELNOTE_EDITOR_MODE", mode);
}

EditorLog::EditorLog(std::wstring path) : path_(std::move(path)) {
    DeleteFileW(path_.c_str());
    SetEnvironmentVariableW(L"VELNOTE_EDITOR_LOG", path_.c_str());
}

EditorLog::~EditorLog() {
    SetEnvironmentVariableW(L"VELNOTE_EDITOR_LOG", nullptr);
    DeleteFileW(path_.c_str());
}

std::vector<std::string> EditorLog::Lines() const {
    std::string bytes = ReadFileBytes(path_);
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t end; (end = bytes.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(bytes.substr(begin, end - begin));
    return lines;  // a line still being written (no line end yet) is left out
}

std::vector<std::string> EditorLog::Events(const std::string& event) const {
    std::vector<std::string> events;
    for (const std::string& line : Lines()) {
        if (line == event)
            events.push_back({});
        else if (line.rfind(event + " ", 0) == 0)
            events.push_back(line.substr(event.size() + 1));
    }
    return events;
}

bool EditorLog::WaitFor(const std::function<bool(const std::string&)>& match, DWORD timeoutMs) const {
    return PumpUntil(
        [&] {
            for (const std::string& line : Lines())
                if (match(line))
                    return true;
            return false;
        },
        timeoutMs);
}

bool EditorLog::WaitForLine(const std::string& line, DWORD timeoutMs) const {
    return WaitFor([&](const std::string& candidate) { return candidate == line; }, timeoutMs);
}

std::vector<DWORD> EditorLog::ProcessIds() const {
    std::vector<DWORD> ids;
    for (const std::string& start : Events("start"))
        ids.push_back(static_cast<DWORD>(std::stoul(start)));
    return ids;
}

static void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        PumpMessages();
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void PumpFor(DWORD milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

double CounterMilliseconds() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::vector<DWORD> RunningStandInProcesses() {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"Velnote.exe") == 0)
            ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

std::vector<DWORD> EndProcesses(const std::vector<DWORD>& processIds, DWORD timeoutMs) {
    std::vector<DWORD> terminated;
    DWORD start = GetTickCount();
    for (DWORD id : processIds) {
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
        if (process == nullptr)
            continue;  // already gone
        DWORD elapsed = GetTickCount() - start;
        bool ended = false;
        PumpUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; },
                  elapsed < timeoutMs ? timeoutMs - elapsed : 0);
        ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        if (!ended) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            terminated.push_back(id);
        }
        CloseHandle(process);
    }
    return terminated;
}

// This process's environment with the stand-in's two variables replaced.
static std::wstring EnvironmentBlock(const std::wstring& logPath, const wchar_t* mode) {
    std::wstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += std::wcslen(entry) + 1) {
        if (_wcsnicmp(entry, L"VELNOTE_EDITOR_LOG=", 19) == 0 || _wcsnicmp(entry, L"VELNOTE_EDITOR_MODE=", 20) == 0)
            continue;
        block += entry;
        block += L'\0';
    }
    FreeEnvironmentStringsW(strings);
    block += L"VELNOTE_EDITOR_LOG=" + logPath;
    block += L'\0';
    if (mode) {
        block += std::wstring(L"VELNOTE_EDITOR_MODE=") + mode;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

PROCESS_INFORMATION StartStandInEditor(const std::wstring& path, const std::wstring& logPath, const wchar_t* mode) {
    std::wstring environment = EnvironmentBlock(logPath, mode);
    std::wstring commandLine = L"Velnote.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                               environment.data(), nullptr, &startup, &process))
        << "start of a stand-in editor, error " << GetLastError();
    return process;
}

HWND WaitForEditorWindowOf(DWORD processId, DWORD timeoutMs) {
    HWND found = nullptr;
    PumpUntil([&] { return (found = TopLevelWindowOf(processId)) != nullptr; }, timeoutMs);
    return found;
}
