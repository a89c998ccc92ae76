#include "hosting/launch.h"

#include <cwchar>
#include <initializer_list>

#include "common/editor_calls.h"
#include "common/module.h"
#include "common/text.h"
#include "common/waits.h"
#include "hosting/container_window.h"
#include "hosting/editor_hooks.h"
#include "hosting/launch_keys.h"
#include "hosting/process_windows.h"
#include "hosting/settings.h"

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

// Not activated: a window of the editor that became the foreground window while it stands
// free would take the keys the user types meanwhile. Position and size 0: the editor's
// first window opens empty at the corner, and no busy cursor shows while it starts.
static bool StartEditor(const wchar_t* editorPath, wchar_t* commandLine, PROCESS_INFORMATION& process) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESIZE | STARTF_USEPOSITION | STARTF_FORCEOFFFEEDBACK;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    return CreateProcessW(editorPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
}

static HWND FindEditorMainWindow(DWORD processId) {
    // FindWindowW sees top-level windows only, so a container never passes for the
    // editor; every top-level window of the class is looked at, so that another
    // editor's window in front of the new one cannot stall the wait.
    return NextWindowOfProcess(kEditorClass, processId, nullptr);
}

static void CloseProcessHandles(const PROCESS_INFORMATION& process) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// Windows lets a process started by the foreground process take the foreground once; the
// lock withholds that from the editor while its window stands free. Only the foreground
// process can lock, and only a lock of the host's own is released, once.
static void UnlockForeground(bool& foregroundLocked) {
    if (foregroundLocked)
        LockSetForegroundWindow(LSFW_UNLOCK);
    foregroundLocked = false;
}

// A question the program asks before its main window (the binary-file one, for instance) is
// for the user, so it gets the foreground.
static void BringQuestionForward(HWND question, bool& foregroundLocked) {
    UnlockForeground(foregroundLocked);
    SetForegroundWindow(question);
}

// A program that shows no window of its own has shown nothing that could be lost, and would
// otherwise open a stray window later; one that shows a window may be the user's own,
// started by a wrong path, and is left running.
static void GiveUpUnreadyEditor(const wchar_t* editorPath, const PROCESS_INFORMATION& process) {
    if (VisibleWindowOfProcess(nullptr, process.dwProcessId) == nullptr)
        TerminateProcess(process.hProcess, 0);
    FormatText(gText, kPathChars, kEditorNotReadyFormat, {editorPath});
    MessageBoxW(nullptr, gText, nullptr, MB_ICONERROR);
}

enum class WaitEnd { kReady, kArrowKey, kProcessEnded, kDeadline };

// Waits, without dispatching messages, until the new process's main window exists and its
// thread answers: only a ready editor is trimmed, hooked and re-parented, since each of
// those calls waits for the editor's thread. The thread pauses a moment between looks and
// wakes at once for a message sent to it (a key typed among them), which it answers.
// Times are compared as differences of GetTickCount values, which stay right across the
// counter's wrap after 49.7 days.
static WaitEnd WaitForReadyEditor(const PROCESS_INFORMATION& process, bool& foregroundLocked, HWND& editor) {
    DWORD waitStart = GetTickCount();
    DWORD lastDialogLook = waitStart - kDialogLookIntervalMs;
    bool questionSeen = false;
    editor = nullptr;
    for (;;) {
        if (editor == nullptr || !IsWindow(editor))
            editor = FindEditorMainWindow(process.dwProcessId);
        // WM_NULL does nothing; an answer within the pause means the editor's thread reads
        // its messages. A hung thread is not waited for at all.
        if (editor != nullptr && AnswersWithin(editor, kEditorLookPauseMs))
            return WaitEnd::kReady;
        const DWORD pause = editor == nullptr ? kEditorWindowLookPauseMs : kEditorLookPauseMs;
        if (WaitAnsweringSentMessages(process.hProcess, pause))
            return WaitEnd::kProcessEnded;
        if (ArrowKeyTyped())
            return WaitEnd::kArrowKey;
        const DWORD now = GetTickCount();
        if (now - lastDialogLook >= kDialogLookIntervalMs) {
            lastDialogLook = now;
            if (HWND question = VisibleWindowOfProcess(kDialogClass, process.dwProcessId)) {
                waitStart = now;
                if (!questionSeen)
                    BringQuestionForward(question, foregroundLocked);
                questionSeen = true;
            }
        }
        if (now - waitStart >= kEditorWindowWaitMs)
            return WaitEnd::kDeadline;
    }
}

// An arrow key gives up the launch and closes the lister; an editor that ended first gives
// it up quietly; one not ready in time gives it up with a message.
static void GiveUpLaunch(WaitEnd end, HWND listerWindow, HWND container, const wchar_t* editorPath,
                         const PROCESS_INFORMATION& process) {
    switch (end) {
    case WaitEnd::kArrowKey:
        // The editor goes first: while it starts it competes with what follows for the processor
        // and the window manager. The host comes to the front again, so that the arrow key and
        // those typed with it reach it even when the editor had taken the foreground: in quick
        // view its main window, in a lister whichever window the system activates when the
        // lister goes. Destroying the lister takes the container with it; the container goes
        // first all the same, in case the lister is not this thread's to destroy.
        TerminateProcess(process.hProcess, 0);
        DestroyWindow(container);
        SetForegroundWindow(GetAncestor(listerWindow, GA_ROOT));
        DestroyWindow(listerWindow);
        return;
    case WaitEnd::kDeadline:
        DestroyWindow(container);
        // The message is for the user, who answers it with the keyboard too.
        StopHoldingKeys();
        GiveUpUnreadyEditor(editorPath, process);
        return;
    default:
        DestroyWindow(container);
        return;
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
    HWND holder = GetWindow(container, GW_CHILD);
    SetParent(editor, holder);
    SetWindowLongPtrW(editor, GWL_STYLE, WS_CHILD);
    SetParent(editor, holder);
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

HWND LaunchViewer(HWND listerWindow, const wchar_t* fileName) {
    const bool quickView = GetParent(listerWindow) != nullptr;
    wchar_t settingsFile[kPathChars] = {};
    wchar_t editorPath[kPathChars] = {};
    if (!ResolveEditor(settingsFile, editorPath))
        return nullptr;
    wchar_t commandLine[kCommandLineChars] = {};
    if (!ComposeCommandLine(settingsFile, editorPath, fileName, quickView, commandLine))
        return nullptr;

    // From here until the return, the keys the user types are the host's, whichever window
    // is in front: they are held and given back once the load is over.
    BeginLaunchInput();
    RegisterContainerClass();
    HWND container = CreateContainerWindow(listerWindow);
    if (container == nullptr) {
        EndLaunchInput();
        return nullptr;
    }
    BringWindowToTop(container);

    bool foregroundLocked = LockSetForegroundWindow(LSFW_LOCK) != FALSE;
    PROCESS_INFORMATION process = {};
    if (!StartEditor(editorPath, commandLine, process)) {
        UnlockForeground(foregroundLocked);
        DestroyWindow(container);
        EndLaunchInput();
        return nullptr;
    }
    HoldLaunchKeys(process.dwProcessId);
    HWND editor = nullptr;
    const WaitEnd end = WaitForReadyEditor(process, foregroundLocked, editor);
    if (end != WaitEnd::kReady) {
        UnlockForeground(foregroundLocked);
        GiveUpLaunch(end, listerWindow, container, editorPath, process);
        CloseProcessHandles(process);
        EndLaunchInput();
        return nullptr;
    }
    CloseProcessHandles(process);

    TrimEditorMenus(editor);
    InstallEditorHooks(container, process.dwThreadId);
    EmbedEditor(editor, container);
    UnlockForeground(foregroundLocked);
    SetForegroundWindow(listerWindow);
    SetFocus(listerWindow);
    ShowWindow(editor, SW_SHOWMAXIMIZED);
    SendMessageWithin(editor, WM_COMMAND, kCmdF4, 0, kEditorCommandWaitMs);
    SendMessageWithin(editor, WM_COMMAND, kCmdAfterEmbedding, 0, kEditorCommandWaitMs);
    ShowWindow(!quickView && HostWantsMaximizedLister() ? editor : listerWindow, SW_SHOW);
    EndLaunchInput();
    return container;
}
