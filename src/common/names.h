// Names, texts and numbers that the plug-in shares with the host, the editor
// and the platform. Each is written here once.
#pragma once

#include <windows.h>

// Buffer sizes in wide characters, terminator included.
inline constexpr int kPathChars = 260;
inline constexpr int kCommandLineChars = 512;

// Window classes and titles.
inline constexpr wchar_t kEditorClass[] = L"Velnote4";  // the editor main window's and the container's
// The plug-in's window between the container and the editor main window.
inline constexpr wchar_t kEditorHolderClass[] = L"Velnote4Holder";
// The hidden top-level window in which a close goes on after the host has let the viewer go.
inline constexpr wchar_t kCloserClass[] = L"Velnote4Closer";
inline constexpr wchar_t kDialogClass[] = L"#32770";
inline constexpr wchar_t kEditorDialogTitle[] = L"Velnote";
inline constexpr wchar_t kTotalCommanderClass[] = L"TTOTAL_CMD";
inline constexpr wchar_t kFreeCommanderClass[] = L"FreeCommanderXE.SingleInst.1";
// Focus classes for which the digits, N and P are handed over to the host.
inline constexpr wchar_t kHandOverClasses[][14] = {L"Window", L"TLister", L"TfcViewerForm"};

// Editor commands, sent as WM_COMMAND with lParam 0.
inline constexpr WPARAM kCmdF4 = 4216;              // also sent once after embedding
inline constexpr WPARAM kCmdAfterEmbedding = 4104;  // sent right after kCmdF4
inline constexpr WPARAM kCmdPrint = 4108;
inline constexpr UINT kCmdMenuItemToDisable = 4109;
inline constexpr WPARAM kCmdCopy = 4154;
inline constexpr WPARAM kCmdSelectAll = 4157;
inline constexpr WPARAM kCmdSearchWithFlags = 4158;
inline constexpr WPARAM kCmdSearchNoFlags = 4159;

// Host lister commands and results.
inline constexpr int kHostCmdCopy = 1;       // lc_copy
inline constexpr int kHostCmdSelectAll = 3;  // lc_selectall
inline constexpr int kListerOk = 0;
inline constexpr int kListerError = 1;

// Files, settings and the command line.
inline constexpr wchar_t kSettingsFileName[] = L"velnote.ini";
inline constexpr wchar_t kSettingsSection[] = L"Options";
inline constexpr char kEmptySettingsFile[] = "[Options]\r\n";  // what a new settings file holds, as bytes
static_assert([] {
    for (size_t i = 0; i + 1 < (sizeof kSettingsSection / sizeof(wchar_t)); ++i)
        if (kEmptySettingsFile[i + 1] != kSettingsSection[i])
            return false;
    return kEmptySettingsFile[0] == '[' && kEmptySettingsFile[(sizeof kSettingsSection / sizeof(wchar_t))] == ']';
}(), "the new settings file's header names kSettingsSection");
inline constexpr wchar_t kAskOpenBinFileKey[] = L"AskOpenBinFile";
inline constexpr wchar_t kDefaultEditor32[] = L"Velnote\\Velnote.exe";
inline constexpr wchar_t kDefaultEditor64[] = L"Velnote64\\Velnote.exe";
#ifdef _WIN64
inline constexpr wchar_t kEditorPathKey[] = L"path64";
inline constexpr const wchar_t* kDefaultEditor = kDefaultEditor64;
#else
inline constexpr wchar_t kEditorPathKey[] = L"path";
inline constexpr const wchar_t* kDefaultEditor = kDefaultEditor32;
#endif
inline constexpr wchar_t kEditorExeName[] = L"Velnote.exe";
inline constexpr wchar_t kListerModeSettings[] = L"VelnoteL.ini";
inline constexpr wchar_t kQuickViewModeSettings[] = L"VelnoteQ.ini";
inline constexpr wchar_t kListerModeArgument[] = L"/Ini(\"%a\\VelnoteL.ini\")";
inline constexpr wchar_t kQuickViewModeArgument[] = L"/Ini(\"%a\\VelnoteQ.ini\")";

// The host's own settings.
inline constexpr wchar_t kHostSettingsVariable[] = L"COMMANDER_INI";
inline constexpr wchar_t kHostListerSection[] = L"Lister";
inline constexpr wchar_t kHostMaximizedKey[] = L"Maximized";

// Registry keys under HKEY_CURRENT_USER removed when a viewer closes, child first.
inline constexpr wchar_t kViewRegistryKey[] = L"Software\\DA74\\View64";
inline constexpr wchar_t kViewRegistryParentKey[] = L"Software\\DA74";

// Container window properties that hold the editor's two hooks until the viewer closes.
inline constexpr wchar_t kKeyboardHookProperty[] = L"Velnote.KeyboardHook";
inline constexpr wchar_t kMouseHookProperty[] = L"Velnote.MouseHook";

// Bounds on waiting for the editor, and the close that may outlive ListCloseWindow.
// Windows counts a thread as hung after 5 s without retrieving a message; these bounds
// keep the host's thread for less than that whatever the editor does. The close request
// gets 2 s and the look whether the editor answers at all 0.5 s, so that ListCloseWindow
// returns within 3 s; a command gets 2 s (its result is not examined). A window call on the
// editor (moving, focusing) is made only after the editor answered a look within 50 ms.
inline constexpr UINT kEditorCommandWaitMs = 2000;
inline constexpr UINT kEditorCloseWaitMs = 2000;
inline constexpr UINT kEditorAnswerWaitMs = 500;
inline constexpr UINT kEditorGlanceMs = 50;
// Right after its close request an editor that keeps its window answers as soon as its thread
// reads messages again, within a millisecond or two; one whose message loop ended does not, and
// costs the close this long. It is looked at twice, this far apart (the first look may reach
// the loop's last read, which its thread leaves at once unless the system stops it just then),
// and once on each tick of the close that goes on.
inline constexpr UINT kEditorAfterCloseGlanceMs = 20;
inline constexpr DWORD kEditorAfterClosePauseMs = 10;
// After its close request the editor is given this long to end or destroy its window, as
// application frameworks do after WM_CLOSE returned, before it counts as keeping it.
inline constexpr DWORD kEditorSettleMs = 600;
// The container's timer fits an editor that did not answer a resize; the closer's finishes a close.
inline constexpr UINT_PTR kCloseTimer = 1;
inline constexpr UINT_PTR kRefitTimer = 2;
inline constexpr UINT kCloseLookMs = 100;
inline constexpr UINT kRefitLookMs = 250;
// A hung editor: Windows counts a thread as hung after 5 s without retrieving a message
// (IsHungAppWindow), and one waiting for messages never. The container looks twice a second,
// so that the note shows at most this long after that and goes at most this long after the
// editor answers again. Wait hides the note for kHungNoteWaitMs; End Velnote ends the editor's
// process with kEndedEditorExitCode and waits at most kEndedEditorWaitMs for its end.
inline constexpr UINT_PTR kHangWatchTimer = 3;
inline constexpr UINT kHangLookMs = 500;
inline constexpr DWORD kHungNoteWaitMs = 10000;
inline constexpr UINT kEndedEditorExitCode = 1;
inline constexpr DWORD kEndedEditorWaitMs = 1000;
// The note the viewer shows over a hung editor: a window of the plug-in's own.
inline constexpr wchar_t kHungNoteClass[] = L"Velnote4Note";
inline constexpr wchar_t kHungNoteButtonClass[] = L"Velnote4NoteButton";
inline constexpr wchar_t kHungNoteText[] = L"Velnote is not responding.";
inline constexpr wchar_t kHungNoteLossText[] = L"Ending Velnote loses its unsaved changes.";
inline constexpr wchar_t kHungNoteWaitButton[] = L"Wait";
inline constexpr wchar_t kHungNoteEndButton[] = L"End Velnote";
// Closer window properties of a close in progress: its phase, and when the editor was last
// seen busy or asking.
inline constexpr wchar_t kClosePhaseProperty[] = L"Velnote.ClosePhase";
inline constexpr wchar_t kCloseClockProperty[] = L"Velnote.CloseClock";
// The editor main window of a close in progress once it has left the closer for the desktop.
inline constexpr wchar_t kReleasedEditorProperty[] = L"Velnote.ReleasedEditor";

// Messages shown to the user, and the two editor command lines; %s stands for a text.
inline constexpr wchar_t kCannotCreateSettingsFormat[] = L"I can't create a file %s. Default paths will be used  %s, %s";
inline constexpr wchar_t kCannotFindEditorFormat[] = L"I can't find the %s in the path specified in the file %s";
// %s: the editor path. Said when the main window did not open, or opened and did not answer.
inline constexpr wchar_t kEditorNotReadyFormat[] =
    L"I can't show the window of the %s. It did not open or did not answer in 10 seconds";
inline constexpr wchar_t kCommandLineFormat[] = L"%s %s /B+ \"%s\"%s";
inline constexpr wchar_t kCommandLineAskBinaryFormat[] = L"%s %s \"%s\"%s";  // leaves out /B+

// The wait for a ready editor gives up on a program whose main window has not opened and
// answered this long after its start; while the program shows a dialog of its own the wait
// starts afresh. Dialogs are looked for only now and then, so that an ordinary launch pays
// nothing for it. Between two looks the host's thread pauses briefly: a look is a request to
// the window manager, which the starting editor needs for its own windows, and an arrow key
// still ends the wait within a few milliseconds.
inline constexpr DWORD kEditorWindowWaitMs = 10000;
static_assert(kEditorWindowWaitMs == 10000, "kEditorNotReadyFormat names the wait in seconds");
inline constexpr DWORD kDialogLookIntervalMs = 100;
inline constexpr DWORD kEditorLookPauseMs = 1;
// Until the editor's window exists the pauses are longer: each look costs the starting editor
// time at the server, and a key the launch's hook sees or the program's end still wakes the
// wait at once.
inline constexpr DWORD kEditorWindowLookPauseMs = 4;
// Key events the user typed while the editor started, held for the host (a press and a
// release are two).
inline constexpr UINT kHeldKeysMax = 256;
// Key-ups injected for one arrow key as a launch begins: another program's low-level hook may
// swallow them, and the key would then never read as released.
inline constexpr int kArrowKeyReleaseTries = 8;
// The held keys go back to the host in steps, from a timer of a message-only window of the
// plug-in's; its shortest period (USER_TIMER_MINIMUM) lets the host read each step first.
inline constexpr wchar_t kKeyGiverClass[] = L"Velnote4Keys";
inline constexpr UINT_PTR kKeyGiverTimer = 1;
inline constexpr UINT kKeyGiverStepMs = USER_TIMER_MINIMUM;
// Marks the keys given back, which the launch's own hook lets pass.
inline constexpr ULONG_PTR kGivenBackKeyMark = 0x564E4B42;  // "VNKB"

// Keys that change what another key means: the held keys give back a key and its modifiers together.
inline constexpr int kModifierKeys[] = {VK_SHIFT,    VK_CONTROL,  VK_MENU,  VK_LSHIFT, VK_RSHIFT, VK_LCONTROL,
                                        VK_RCONTROL, VK_LMENU,    VK_RMENU, VK_LWIN,   VK_RWIN};

// Arrow keys, in the order they are tested: a press during the window wait gives up the launch.
inline constexpr int kArrowKeys[] = {VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT};

// Input hooks.
inline constexpr LONG kDismissingControlId = 2;  // focused dialog control that lets the hooks close the dialog
inline constexpr int kHandOverMenuItems = 7;     // menu bar items the host needs beyond which N and P are handed over
// Marks the hooks' own synthetic clicks, so that their release does not start a dismissal again.
inline constexpr ULONG_PTR kSyntheticClickMark = 0x564E4F54;  // "VNOT"
