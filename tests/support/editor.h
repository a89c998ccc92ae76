// The stand-in editor (tests/editor): installing it where the plug-in looks for the
// editor, steering it through the environment it inherits, and reading its log.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The built stand-in, as a Windows path.
std::wstring StandInEditorFile();

// Copies the stand-in to path, creating the missing folders. Fails the test on error.
void InstallStandInEditorAt(const std::wstring& path);
// Copies the stand-in to the default location of this bitness's build, <plug-in
// folder>Velnote64\Velnote.exe or <plug-in folder>Velnote\Velnote.exe, and returns that path. pluginDirectory ends with a backslash.
std::wstring InstallStandInEditor(const std::wstring& pluginDirectory);

// Sets or, with null, removes a variable of this process's environment, which every
// editor that the plug-in starts inherits.
void SetTestEnvironment(const wchar_t* name, const wchar_t* value);
// VELNOTE_EDITOR_MODE: "exit", "late", "late:<ms>", "never", "stall:<ms>" (no messages read for
// <ms> right after the main window is shown), "grab:<ms>" (the main window made the foreground
// window, its edit control focused, then no messages read for <ms>), "topmost", "keep" (the first
// WM_CLOSE leaves the window), "ask:<ms>" (a "Velnote" question for <ms> before the main
// window), "foreign" (a window of class "VelnoteForeign" instead of the main window, until
// it is closed or the program terminated), "endloop:<ms>" (WM_CLOSE ends the message loop,
// the window goes when the process ends after <ms> of tidying up), "destroylater:<ms>"
// (the window is destroyed <ms> after WM_CLOSE returned), "askclose:<ms>" (the first WM_CLOSE
// asks "save changes?", cancelled after <ms>: the window stays); null for normal.
void SetEditorMode(const wchar_t* mode);

// The log of every stand-in started while it is in use: constructing it points
// VELNOTE_EDITOR_LOG at a new, empty file; the destructor removes the variable and the file.
class EditorLog {
public:
    explicit EditorLog(std::wstring path);
    ~EditorLog();
    EditorLog(const EditorLog&) = delete;
    EditorLog& operator=(const EditorLog&) = delete;

    const std::wstring& path() const { return path_; }
    // Every line so far, without line ends.
    std::vector<std::string> Lines() const;
    // The lines of one event ("command", "key", ...), with the event word and its blank removed.
    std::vector<std::string> Events(const std::string& event) const;
    // Pumps this thread's messages until a line satisfies match or timeoutMs passed.
    bool WaitFor(const std::function<bool(const std::string&)>& match, DWORD timeoutMs = 5000) const;
    bool WaitForLine(const std::string& line, DWORD timeoutMs = 5000) const;
    // The process identifiers of the "start" lines.
    std::vector<DWORD> ProcessIds() const;

private:
    std::wstring path_;
};

// Pumps this thread's messages until done() or timeoutMs passed; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
// Pumps this thread's messages for a while, for what must not happen.
void PumpFor(DWORD milliseconds);
// The performance counter in milliseconds, for times below GetTickCount's step on Windows.
double CounterMilliseconds();

// Identifiers of the running processes whose executable is named Velnote.exe.
std::vector<DWORD> RunningStandInProcesses();
// Waits up to timeoutMs for each process to end and terminates those that did not.
// Returns the identifiers that had to be terminated.
std::vector<DWORD> EndProcesses(const std::vector<DWORD>& processIds, DWORD timeoutMs);

// Starts the stand-in at path (command line "Velnote.exe") with VELNOTE_EDITOR_MODE mode, in an
// environment whose VELNOTE_EDITOR_LOG is logPath. The caller closes the handles.
PROCESS_INFORMATION StartStandInEditor(const std::wstring& path, const std::wstring& logPath, const wchar_t* mode);
// Waits for the top-level "Velnote4" window of a process.
HWND WaitForEditorWindowOf(DWORD processId, DWORD timeoutMs = 5000);

// The test bed's own dialog requests; post them (the boxes are modal).
inline constexpr WPARAM kStandInAskCancelFocused = 40001;
inline constexpr WPARAM kStandInAskOkFocused = 40002;
inline constexpr WPARAM kStandInAskNearMissTitle = 40003;
// Opens (or shows again) a modeless dialog owned by the main window; it may be sent.
inline constexpr WPARAM kStandInOpenModeless = 40004;
// Post it with the milliseconds in lParam: the editor's thread retrieves no message for that
// long (logs "hang <ms>", then "hang-end"). Beyond 5 s the system counts it as hung.
inline constexpr WPARAM kStandInHang = 40005;
