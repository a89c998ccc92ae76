// ListLoadW: starts the editor on the file, waits for its main window and embeds it.
#include <cwchar>
#include <initializer_list>

#include "common/module.h"
#include "common/text.h"
#include "hosting/container_window.h"
#include "hosting/editor_hooks.h"
#include "hosting/process_windows.h"
#include "hosting/settings.h"
#include "lister/exports.h"

// The directory of the editor path joined with a mode settings file name; empty when the
// result would not fit, which then counts as a missing file.
static void BuildModeSettingsPath(const wchar_t* editorPath, const wchar_t* fileName, wchar_t (&path)[kPathChars]) {
    wchar_t directory[kPathChars] = {};
    FormatText(directory, kPathChars, L"%s", {editorPath});
    if (wchar_t* lastBackslash = std::wcsrchr(directory, L'\\'))
        *lastBackslash = L'\0';
    if (!FormatText(path, kPathChars, L"%s\\%s", {directory, fileName}))
        path[0] = L'\0';
}

static bool FileExists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The editor reads its mode settings only when both files lie beside it.
static const wchar_t* ChooseModeArgument(const wchar_t* editorPath, bool quickView) {
    wchar_t listerSettings[kPathChars] = {};
    wchar_t quickViewSettings[kPathChars] = {};
    BuildModeSettingsPath(editorPath, kListerModeSettings, listerSettings);
    BuildModeSettingsPath(editorPath, kQuickViewModeSettings, quickViewSettings);
    if (!FileExists(listerSettings) || !FileExists(quickViewSettings))
        return L"";
    return quickView ? kQuickViewModeArgument : kListerModeArgument;
}

static bool ComposeCommandLine(const wchar_t* settingsFile, const wchar_t* editorPath, const wchar_t* fileName,
                               bool quickView, wchar_t (&commandLine)[kCommandLineChars]) {
    wchar_t askOpenBinFile[kPathChars] = {};
    ReadAskOpenBinFile(settingsFile, askOpenBinFile);
    const wchar_t* format = ContainsOne(askOpenBinFile) ? kCommandLineAskBinaryFormat : kCommandLineFormat;
    const wchar_t* modeArgument = ChooseModeArgument(editorPath, quickView);
    return FormatText(commandLine, kCommandLineChars, format, {kEditorExeName, modeArgument, fileName, L""});
}

static bool StartEditor(const wchar_t* editorPath, wchar_t* commandLine, PROCESS_INFORMATION& process) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    // Position and size 0: the editor's first window opens empty at the corner, and no
    // busy cursor shows while it starts.
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESIZE | STARTF_USEPOSITION | STARTF_FORCEOFFFEEDBACK;
    startup.wShowWindow = SW_SHOW;
    return CreateProcessW(editorPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
}

static HWND FindEditorMainWindow(DWORD processId) {
    // FindWindowW sees top-level windows only, so a container never passes for the
    // editor; every top-level window of the class is looked at, so that another
    // editor's window in front of the new one cannot stall the wait.
    return NextWindowOfProcess(kEditorClass, processId, nullptr);
}

static bool ArrowKeyPressed() {
    for (int key : kArrowKeys)
        if (GetAsyncKeyState(key) != 0)
            return true;
    return false;
}

static bool ProcessEnded(HANDLE process) {
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

static void CloseProcessHandles(const PROCESS_INFORMATION& process) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// A question the program asks before its main window (the binary-file one, for instance).
static bool ShowsDialog(DWORD processId) {
    for (HWND wnd = NextWindowOfProcess(kDialogClass, processId, nullptr); wnd != nullptr;
         wnd = NextWindowOfProcess(kDialogClass, processId, wnd))
        if (IsWindowVisible(wnd))
            return true;
    return false;
}

// The program is left running: it may be the user's own, started by a wrong path.
static void ReportMissingEditorWindow(const wchar_t* editorPath) {
    FormatText(gText, kPathChars, kEditorWindowMissingFormat, {editorPath});
    MessageBoxW(nullptr, gText, nullptr, MB_ICONERROR);
}

// Polls without sleeping and without dispatching messages until the new process's main
// window exists. An arrow key gives up the launch and closes the lister; an editor that
// ends first gives it up quietly; a program that opens no such window in time (and asks
// nothing meanwhile) gives it up with a message. Returns null when the launch was given up.
static HWND WaitForEditorWindow(HWND listerWindow, HWND container, const wchar_t* editorPath,
                                const PROCESS_INFORMATION& process) {
    // Times are compared as differences of GetTickCount values, which stay right across
    // the counter's wrap after 49.7 days.
    DWORD waitStart = GetTickCount();
    DWORD lastDialogLook = waitStart - kDialogLookIntervalMs;
    for (;;) {
        if (HWND editor = FindEditorMainWindow(process.dwProcessId))
            return editor;
        if (ArrowKeyPressed()) {
            DestroyWindow(listerWindow);
            DestroyWindow(container);
            TerminateProcess(process.hProcess, 0);
            return nullptr;
        }
        if (ProcessEnded(process.hProcess)) {
            DestroyWindow(container);
            return nullptr;
        }
        const DWORD now = GetTickCount();
        if (now - lastDialogLook >= kDialogLookIntervalMs) {
            lastDialogLook = now;
            if (ShowsDialog(process.dwProcessId))
                waitStart = now;
        }
        if (now - waitStart >= kEditorWindowWaitMs) {
            DestroyWindow(container);
            ReportMissingEditorWindow(editorPath);
            return nullptr;
        }
    }
}

// The editor may not be closed, resized or moved on its own while it lives in the lister.
static void TrimEditorMenus(HWND editor) {
    constexpr UINT kDisabled = MF_BYCOMMAND | MF_DISABLED | MF_GRAYED;
    EnableMenuItem(GetMenu(editor), kCmdMenuItemToDisable, kDisabled);
    EnableMenuItem(GetSystemMenu(editor, FALSE), SC_CLOSE, kDisabled);
    for (UINT item : {SC_MAXIMIZE, SC_MINIMIZE, SC_RESTORE, SC_SIZE, SC_MOVE})
        DeleteMenu(GetSystemMenu(editor, FALSE), item, MF_BYCOMMAND);
}

static void EmbedEditor(HWND editor, HWND container) {
    SetParent(editor, container);
    SetWindowLongPtrW(editor, GWL_STYLE, WS_CHILD);
    SetParent(editor, container);
}

static bool HostWantsMaximizedLister() {
    wchar_t hostSettings[kPathChars] = {};
    wchar_t maximized[kPathChars] = {};
    DWORD length = GetEnvironmentVariableW(kHostSettingsVariable, hostSettings, kPathChars);
    if (length >= kPathChars)
        hostSettings[0] = L'\0';  // a cut-short path would name another file
    GetPrivateProfileStringW(kHostListerSection, kHostMaximizedKey, L"", maximized, kPathChars, hostSettings);
    return ContainsOne(maximized);
}

HWND WINAPI ListLoadW(HWND listerWindow, wchar_t* fileName, int) {
    const bool quickView = GetParent(listerWindow) != nullptr;
    gText[0] = L'\0';
    // INVALID_FILE_ATTRIBUTES has the directory bit set too: a missing file is declined here.
    if (GetFileAttributesW(fileName) & FILE_ATTRIBUTE_DIRECTORY)
        return nullptr;

    wchar_t settingsFile[kPathChars] = {};
    wchar_t editorPath[kPathChars] = {};
    if (!ResolveEditor(settingsFile, editorPath))
        return nullptr;
    wchar_t commandLine[kCommandLineChars] = {};
    if (!ComposeCommandLine(settingsFile, editorPath, fileName, quickView, commandLine))
        return nullptr;

    RegisterContainerClass();
    HWND container = CreateContainerWindow(listerWindow);
    if (container == nullptr)
        return nullptr;
    BringWindowToTop(container);

    PROCESS_INFORMATION process = {};
    if (!StartEditor(editorPath, commandLine, process)) {
        DestroyWindow(container);
        return nullptr;
    }
    HWND editor = WaitForEditorWindow(listerWindow, container, editorPath, process);
    CloseProcessHandles(process);
    if (editor == nullptr)
        return nullptr;

    TrimEditorMenus(editor);
    InstallEditorHooks(container, process.dwThreadId);
    EmbedEditor(editor, container);
    SetForegroundWindow(listerWindow);
    SetFocus(listerWindow);
    ShowWindow(editor, SW_SHOWMAXIMIZED);
    SendMessageW(editor, WM_COMMAND, kCmdF4, 0);
    SendMessageW(editor, WM_COMMAND, kCmdAfterEmbedding, 0);
    ShowWindow(!quickView && HostWantsMaximizedLister() ? editor : listerWindow, SW_SHOW);
    return container;
}
