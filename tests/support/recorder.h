// A message-sequence recorder in the manner of Wine's user32 message tests: every place
// that observes the plug-in (the procedures of the test's windows, the import-table fakes
// of plugin_fakes.h) appends an entry to one list, and a test compares that list with a
// static table of what it expects.
//
//   static const std::vector<Entry> kExpected = {
//       {"PostMessageW", "lister", WM_CLOSE},    // the plug-in's call
//       {"CallNextHookEx", "", HC_ACTION, VK_ESCAPE, kKeyData},
//       {"lister", "", WM_CLOSE},                // what the lister window's procedure received
//   };
//   ClearRecorded();
//   ... let the plug-in act ...
//   PumpMessages();
//   EXPECT_SEQUENCE(kExpected);
//
// Windows are named (NameWindow, CreateRecordedWindow) so that entries and failure
// output read as names instead of handle values.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Flags of an expected entry.
enum EntryFlags : unsigned {
    kOptional = 1,    // may be missing from the recording (differs harmlessly between platforms)
    kAnyWParam = 2,   // wParam is not compared
    kAnyLParam = 4,   // lParam is not compared
};

struct Entry {
    // Who saw it: the name of a window whose procedure received a message ("lister"), or
    // the platform function the plug-in called ("PostMessageW").
    std::string source;
    // For a call, the name of the window the call names (its first argument), "null" for
    // a null handle, "" when the call takes no window. For keybd_event and mouse_event it
    // holds the arguments that are normally 0, when they are not ("scan=1", "dx=1 dy=2 data=3").
    std::string window;
    // The message; for calls without one, what the fake documents (keybd_event and
    // mouse_event: the flags; CallNextHookEx: the hook code).
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    unsigned flags = 0;  // EntryFlags; ignored in recorded entries
};

// Appends to the one recording of this test process.
void Record(const Entry& entry);
const std::vector<Entry>& Recorded();
void ClearRecorded();

// Names a window for the recording; an unnamed window reads as its handle in hex.
void NameWindow(HWND wnd, const std::string& name);
std::string WindowName(HWND wnd);

// Creates a window whose procedure records the messages listed below and otherwise
// behaves as DefWindowProcW, except that WM_CLOSE is recorded and not acted on (a test's
// lister window survives a close request). The class is registered under the test
// program's instance on first use. id is the control identifier of a child, or the menu
// of a top-level window.
HWND CreateRecordedWindow(const wchar_t* className, const wchar_t* title, DWORD style, HWND parent,
                          const std::string& name, HMENU idOrMenu = nullptr);
// Makes an existing window (one of a system class such as "#32770") record in the same way.
void RecordWindowMessages(HWND wnd, const std::string& name);
// Recorded messages: key messages, WM_COMMAND, WM_CLOSE, WM_SYSCOMMAND.
bool IsRecordedMessage(UINT message);

// Dispatches every message pending for this thread's windows and returns when none is left.
void PumpMessages();

// Compares the recording with expected, as Wine's ok_sequence does: entries must come in
// order, optional expected entries may be missing, nothing else may come between. On a
// mismatch the test fails at file and line with both lists side by side.
void ExpectSequence(const std::vector<Entry>& expected, const char* file, int line);
#define EXPECT_SEQUENCE(expected) ExpectSequence((expected), __FILE__, __LINE__)

// The list in the form the failure output uses, one entry a line.
std::string FormatEntries(const std::vector<Entry>& entries);
