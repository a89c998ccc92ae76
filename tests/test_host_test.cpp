// The test host (tools/host), run as a person runs it: velnote-host.exe loads the built
// plug-in from a plug-in folder whose editor is the stand-in, shows a file in a
// stand-alone lister window or in a quick-view panel of a "TTOTAL_CMD" window, and sends
// the plug-in the file manager's commands from its menu.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "support/editor.h"
#include "support/host_windows.h"
#include "support/plugin.h"

namespace {

constexpr DWORD kHostRunMs = 30000;

// A plug-in folder with the built plug-in and the stand-in at its default place. Both mode
// settings files lie beside the editor, so that its command line tells which mode the
// plug-in found the host's window in.
struct PluginFolder {
    std::wstring directory;
    std::wstring plugin;
    std::wstring sample;
};

PluginFolder MakePluginFolder() {
    PluginFolder folder;
    folder.directory = MakeTempDirectory(L"velnote-host");
    folder.plugin = folder.directory + kPluginFileName;
    EXPECT_TRUE(CopyFileW(BuiltPluginFile().c_str(), folder.plugin.c_str(), TRUE));
    std::wstring editor = InstallStandInEditor(folder.directory);
    std::wstring editorDirectory = editor.substr(0, editor.rfind(L'\\') + 1);
    WriteFileBytes(editorDirectory + L"VelnoteL.ini", "");
    WriteFileBytes(editorDirectory + L"VelnoteQ.ini", "");
    folder.sample = folder.directory + L"sample.cpp";
    WriteFileBytes(folder.sample, "int main() { return 0; }\r\n");
    return folder;
}

struct HostRun {
    PROCESS_INFORMATION process = {};
    HANDLE output = nullptr;  // read end of the host's stdout and stderr
};

HostRun StartHost(const std::wstring& arguments) {
    HostRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    EXPECT_TRUE(CreatePipe(&run.output, &write, &inherit, 1 << 16));
    SetHandleInformation(run.output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    std::wstring commandLine = L"\"" + WindowsPath(VELNOTE_HOST_FILE) + L"\" " + arguments;
    EXPECT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &run.process))
        << "error " << GetLastError();
    CloseHandle(write);
    return run;
}

// Waits for the host to end (ending it after the deadline) and returns its exit code and
// everything it wrote.
DWORD FinishHost(HostRun& run, std::string& output) {
    DWORD exitCode = STILL_ACTIVE;
    if (run.process.hProcess != nullptr) {
        if (WaitForSingleObject(run.process.hProcess, kHostRunMs) != WAIT_OBJECT_0)
            TerminateProcess(run.process.hProcess, 99);
        WaitForSingleObject(run.process.hProcess, INFINITE);
        GetExitCodeProcess(run.process.hProcess, &exitCode);
        CloseHandle(run.process.hThread);
        CloseHandle(run.process.hProcess);
    }
    // Only what is in the pipe once the host has ended: the pipe may never report its end,
    // as the desktop process that Wine starts for the first window of a session inherits
    // that process's stderr and keeps it.
    DWORD available = 0;
    while (run.output != nullptr && PeekNamedPipe(run.output, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        std::string chunk(available, '\0');
        DWORD read = 0;
        if (!ReadFile(run.output, chunk.data(), available, &read, nullptr) || read == 0)
            break;
        output.append(chunk, 0, read);
    }
    if (run.output != nullptr)
        CloseHandle(run.output);
    return exitCode;
}

std::wstring HostArguments(const wchar_t* switches, const PluginFolder& folder) {
    return std::wstring(switches) + L"\"" + folder.plugin + L"\" \"" + folder.sample + L"\"";
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The editor the plug-in started has ended by itself: none had to be terminated.
void ExpectEditorsEnded(const EditorLog& log) {
    std::vector<DWORD> started = log.ProcessIds();
    EXPECT_EQ(started.size(), 1u) << "editor processes started";
    EXPECT_TRUE(EndProcesses(started, 5000).empty()) << "an editor was still running after the host ended";
}

struct ModeRow {
    const char* name;
    const wchar_t* switchText;
    const char* modeArgument;  // what the plug-in put on the editor's command line
    const wchar_t* topClass;
};

const ModeRow kModes[] = {
    {"lister", L"", "/Ini(\"%a\\VelnoteL.ini\")", L"TLister"},
    {"quick view", L"--quick-view ", "/Ini(\"%a\\VelnoteQ.ini\")", L"TTOTAL_CMD"},
};

// The host started in one mode on a new plug-in folder, with the log of the editors it
// starts; the folder goes when the session does.
struct HostSession {
    explicit HostSession(const ModeRow& mode, const wchar_t* moreSwitches = L"")
        : folder(MakePluginFolder()),
          log(folder.directory + L"editor.log"),
          run(StartHost(moreSwitches + HostArguments(mode.switchText, folder))) {}
    ~HostSession() { RemoveDirectoryTree(folder.directory); }
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    PluginFolder folder;
    EditorLog log;
    HostRun run;
};

TEST(TestHost, OpensAndClosesTheFileInBothModes) {
    for (const ModeRow& mode : kModes) {
        SCOPED_TRACE(mode.name);
        HostSession session(mode, L"--exit-after-open ");
        const EditorLog& log = session.log;
        HostRun& run = session.run;
        std::string output;
        EXPECT_EQ(FinishHost(run, output), 0u) << output;

        EXPECT_TRUE(Contains(output, "ListLoadW returned the container window")) << output;
        EXPECT_TRUE(Contains(output, "ListCloseWindow done")) << output;
        EXPECT_TRUE(Contains(output, "editor process ended")) << output;
        EXPECT_TRUE(Contains(output, "velnote-host: opened and closed")) << output;
        std::vector<std::string> commandLines = log.Events("cmdline");
        ASSERT_EQ(commandLines.size(), 1u);
        EXPECT_TRUE(Contains(commandLines[0], mode.modeArgument)) << commandLines[0];
        std::string quotedSample = ToUtf8(session.folder.sample);
        quotedSample.insert(quotedSample.begin(), '"');
        quotedSample.push_back('"');
        EXPECT_TRUE(Contains(commandLines[0], quotedSample)) << commandLines[0];
        EXPECT_TRUE(log.WaitForLine("close")) << "the editor was not sent WM_CLOSE";
        EXPECT_TRUE(log.WaitForLine("exit 0"));
        ExpectEditorsEnded(log);
    }
}

HWND FindTopWindowOf(DWORD processId, const wchar_t* className) {
    for (HWND wnd = FindWindowExW(nullptr, nullptr, className, nullptr); wnd != nullptr;
         wnd = FindWindowExW(nullptr, wnd, className, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(wnd, &owner);
        if (owner == processId && IsWindowVisible(wnd))
            return wnd;
    }
    return nullptr;
}

// Answers the host's Find prompt as a person would: types the text and presses OK.
bool AnswerFindPrompt(DWORD hostProcessId, const wchar_t* text) {
    HWND prompt = nullptr;
    if (!PumpUntil([&] { return (prompt = FindTopWindowOf(hostProcessId, L"#32770")) != nullptr; }))
        return false;
    SetDlgItemTextW(prompt, IDC_FIND_TEXT, text);
    return PostMessageW(prompt, WM_COMMAND, IDOK, 0) != 0;
}

// Waits until the host shows the file and returns its top-level window of topClass, or
// null. 4104 is the last command the plug-in sends before ListLoadW returns; menu commands
// posted from then on are handled once the host's loop runs.
HWND WaitForOpenViewer(const EditorLog& log, const HostRun& run, const wchar_t* topClass) {
    if (!log.WaitForLine("command 4104 0x0", 15000))
        return nullptr;
    HWND top = nullptr;
    PumpUntil([&] { return (top = FindTopWindowOf(run.process.dwProcessId, topClass)) != nullptr; });
    return top;
}

TEST(TestHost, MenuCommandsReachTheEditorTheWayTheFileManagerSendsThem) {
    for (const ModeRow& mode : kModes) {
        SCOPED_TRACE(mode.name);
        HostSession session(mode);
        const EditorLog& log = session.log;
        HostRun& run = session.run;

        HWND top = WaitForOpenViewer(log, run, mode.topClass);
        ASSERT_NE(top, nullptr) << "the host did not show the file";

        PostMessageW(top, WM_COMMAND, IDM_COPY, 0);
        EXPECT_TRUE(log.WaitForLine("command 4154 0x0"));
        PostMessageW(top, WM_COMMAND, IDM_SELECT_ALL, 0);
        EXPECT_TRUE(log.WaitForLine("command 4157 0x0"));
        PostMessageW(top, WM_COMMAND, IDM_PRINT, 0);
        EXPECT_TRUE(log.WaitForLine("command 4108 0x0"));
        PostMessageW(top, WM_COMMAND, IDM_FIND, 0);
        EXPECT_TRUE(AnswerFindPrompt(run.process.dwProcessId, L"needle"));
        EXPECT_TRUE(log.WaitForLine("command 4158 0x0"));
        PostMessageW(top, WM_COMMAND, IDM_FIND_NEXT, 0);
        EXPECT_TRUE(log.WaitForLine("command 4159 0x0"));
        PostMessageW(top, WM_COMMAND, IDM_CLOSE, 0);

        std::string output;
        EXPECT_EQ(FinishHost(run, output), 0u) << output;
        // lcs_findfirst for Find, no flags for Find next; the two after embedding come first.
        const std::vector<std::string> expectedCommands = {"4216 0x0", "4104 0x0", "4154 0x0", "4157 0x0",
                                                           "4108 0x0", "4158 0x0", "4159 0x0"};
        EXPECT_EQ(log.Events("command"), expectedCommands);
        // The search text reaches the editor's search field after each search command.
        EXPECT_EQ(log.Events("search-text"), (std::vector<std::string>{"needle", "needle"}));
        EXPECT_TRUE(Contains(output, "ListSearchTextW(lcs_findfirst) returned 0")) << output;
        EXPECT_TRUE(Contains(output, "ListSearchTextW(0) returned 0")) << output;
        EXPECT_TRUE(Contains(output, "ListSendCommand(lc_copy) returned 0")) << output;
        EXPECT_TRUE(Contains(output, "ListSendCommand(lc_selectall) returned 0")) << output;
        EXPECT_TRUE(Contains(output, "ListPrint returned 0")) << output;
        EXPECT_TRUE(log.WaitForLine("close")) << "the editor was not sent WM_CLOSE";
        ExpectEditorsEnded(log);
    }
}

TEST(TestHost, TheEditorFillsTheListerWindowAsTheHostIsResized) {
    for (const ModeRow& mode : kModes) {
        SCOPED_TRACE(mode.name);
        HostSession session(mode);
        const EditorLog& log = session.log;
        HostRun& run = session.run;

        HWND top = WaitForOpenViewer(log, run, mode.topClass);
        ASSERT_NE(top, nullptr) << "the host did not show the file";
        // In quick view the lister window is the panel inside the main window.
        HWND lister = mode.topClass == std::wstring(L"TLister") ? top : GetWindow(top, GW_CHILD);
        HWND container = GetWindow(lister, GW_CHILD);
        HWND editor = EmbeddedEditorOf(container);
        ASSERT_NE(editor, nullptr);
        for (SIZE size : {SIZE{640, 480}, SIZE{820, 560}}) {
            SetWindowPos(top, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            RECT expected = ClientRectOnScreen(lister);
            RECT actual = {};
            EXPECT_TRUE(PumpUntil([&] { return GetWindowRect(editor, &actual) && SameRect(actual, expected); }))
                << "editor " << actual.left << "," << actual.top << "," << actual.right << "," << actual.bottom
                << " lister client " << expected.left << "," << expected.top << "," << expected.right << ","
                << expected.bottom;
            EXPECT_GT(expected.right - expected.left, 0);
        }
        PostMessageW(top, WM_COMMAND, IDM_CLOSE, 0);
        std::string output;
        EXPECT_EQ(FinishHost(run, output), 0u) << output;
        ExpectEditorsEnded(log);
    }
}

TEST(TestHost, ReportsWhyItCouldNotShowAFile) {
    PluginFolder folder = MakePluginFolder();
    struct Row {
        const char* name;
        std::wstring arguments;
        DWORD exitCode;
        const char* says;
    };
    const Row rows[] = {
        {"no file named", L"\"" + folder.plugin + L"\"", 1, "usage: velnote-host"},
        {"no such plug-in", L"\"" + folder.directory + L"missing.wlx64\" \"" + folder.sample + L"\"", 2, "cannot load"},
        {"a file the plug-in declines", L"\"" + folder.plugin + L"\" \"" + folder.directory + L"missing.txt\"", 3,
         "ListLoadW declined"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HostRun run = StartHost(row.arguments);
        std::string output;
        EXPECT_EQ(FinishHost(run, output), row.exitCode) << output;
        EXPECT_TRUE(Contains(output, row.says)) << output;
    }
    RemoveDirectoryTree(folder.directory);
}

}  // namespace
