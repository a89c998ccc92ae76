// A hung editor inside the viewer, end to end: the stand-in stops reading messages and the
// viewer says so with a note of its own, with Wait and End Velnote, while the host's thread
// waits for nothing. Windows counts the editor as hung 5 s after its last read, so each of
// these tests takes that long at least.
#include <gtest/gtest.h>

#include <string>

#include "support/input.h"
#include "support/viewer.h"

namespace {

constexpr wchar_t kNoteClass[] = L"Velnote4Note";
constexpr wchar_t kButtonClass[] = L"Velnote4NoteButton";
constexpr wchar_t kWait[] = L"Wait";
constexpr wchar_t kEnd[] = L"End Velnote";

HWND NoteOf(const Viewer& viewer) {
    return FindWindowExW(viewer.container, nullptr, kNoteClass, nullptr);
}

bool NoteShows(const Viewer& viewer) {
    return IsWindowVisible(NoteOf(viewer)) != FALSE;
}

HWND ButtonOf(const Viewer& viewer, const wchar_t* label) {
    return FindWindowExW(NoteOf(viewer), nullptr, kButtonClass, label);
}

void Type(BYTE key) {
    PressKey(key);
    ReleaseKey(key);
}

// Milliseconds from start until done() held, pumping; the timeout when it never did.
DWORD MsUntil(DWORD start, const std::function<bool()>& done, DWORD timeoutMs) {
    PumpUntil(done, timeoutMs);
    return GetTickCount() - start;
}

std::wstring TextOf(HWND edit) {
    wchar_t text[128] = {};
    SendMessageW(edit, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text));
    return text;
}

class HungNote : public ViewerTest {
protected:
    // The editor stops reading messages for ms; returns when it did.
    DWORD Hang(const Viewer& viewer, LPARAM ms) {
        PostMessageW(viewer.editor, WM_COMMAND, kStandInHang, ms);
        EXPECT_TRUE(log_->WaitForLine("hang " + std::to_string(ms)));
        return GetTickCount();
    }
};

// The viewer has the keyboard on the host's side, so the note takes it: Tab goes from Wait to
// End Velnote and back, Space on Wait hides the note, which shows again 10 s later; once the
// editor answers, the note goes and the editor is where it was, painted again.
TEST_F(HungNote, ShowsFiveSecondsIntoAHangAgainTenSecondsAfterWaitAndGoesOnceTheEditorAnswers) {
    Viewer viewer = Open(ViewerMode::kLister);
    ASSERT_TRUE(viewer.IsOpen());
    SetFocus(viewer.host.lister);
    const RECT place = WindowRectOf(viewer.editor);
    const DWORD hung = Hang(viewer, 17500);

    const DWORD shown = MsUntil(hung, [&] { return NoteShows(viewer); }, 8000);
    EXPECT_GE(shown, 5000u);
    EXPECT_LE(shown, 6500u);
    ASSERT_TRUE(NoteShows(viewer));
    EXPECT_EQ(GetFocus(), ButtonOf(viewer, kWait));
    Type(VK_TAB);
    EXPECT_TRUE(PumpUntil([&] { return GetFocus() == ButtonOf(viewer, kEnd); }, 1000));
    Type(VK_TAB);
    EXPECT_TRUE(PumpUntil([&] { return GetFocus() == ButtonOf(viewer, kWait); }, 1000));
    Type(VK_SPACE);
    ASSERT_TRUE(PumpUntil([&] { return !NoteShows(viewer); }, 1000)) << "Wait did not hide the note";
    const DWORD waited = GetTickCount();
    const DWORD shownAgain = MsUntil(waited, [&] { return NoteShows(viewer); }, 12000);
    EXPECT_GE(shownAgain, 10000u);
    EXPECT_LE(shownAgain, 11000u);

    ASSERT_TRUE(log_->WaitForLine("hang-end", 5000));
    EXPECT_LE(MsUntil(GetTickCount(), [&] { return NoteOf(viewer) == nullptr; }, 2000), 1000u);
    EXPECT_TRUE(IsWindowVisible(viewer.editor));
    EXPECT_TRUE(SameRect(WindowRectOf(viewer.editor), place));
}

// An editor asking a question reads messages and gets no note. One that hangs with the
// keyboard keeps it (taking it away would wait for the editor), and has it, with its text,
// once it answers; in the next hang End Velnote, clicked, ends its process and no other, and
// closing the viewer then waits for nothing.
TEST_F(HungNote, NoneOverAQuestionTheEditorKeepsFocusAndTextAndEndVelnoteEndsOnlyItsProcess) {
    PROCESS_INFORMATION other = StartStandInEditor(StandInEditorFile(), files_ + L"other.log", nullptr);
    ASSERT_NE(WaitForEditorWindowOf(other.dwProcessId), nullptr);
    Viewer viewer = Open(ViewerMode::kLister);
    ASSERT_TRUE(viewer.IsOpen());
    RECT client;
    GetClientRect(viewer.host.lister, &client);
    MoveWindow(viewer.container, 0, 0, client.right, client.bottom, TRUE);
    const std::vector<std::string> windows = log_->Events("window");
    ASSERT_FALSE(windows.empty());
    HWND edit = ParseLoggedWindow(windows.front().substr(windows.front().find(' ') + 1));
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"typed before the hang"));

    PostMessageW(viewer.editor, WM_COMMAND, kStandInAskCancelFocused, 0);
    ASSERT_TRUE(log_->WaitForLine("dialog-open " + std::to_string(kStandInAskCancelFocused)));
    PumpFor(6500);
    EXPECT_EQ(NoteOf(viewer), nullptr) << "a note over an editor that asks a question";
    HWND box = TopLevelWindowOf(viewer.processId, L"#32770");
    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(log_->WaitFor([](const std::string& line) { return line.rfind("dialog-result", 0) == 0; }));

    SetFocus(viewer.editor);
    ASSERT_TRUE(PumpUntil([&] { return GetFocus() == edit; }, 1000));
    Hang(viewer, 6500);
    ASSERT_TRUE(PumpUntil([&] { return NoteShows(viewer); }, 7000));
    EXPECT_EQ(GetFocus(), edit);
    ASSERT_TRUE(log_->WaitForLine("hang-end", 3000));
    EXPECT_TRUE(PumpUntil([&] { return NoteOf(viewer) == nullptr; }, 1000));
    EXPECT_EQ(GetFocus(), edit);
    EXPECT_EQ(TextOf(edit), L"typed before the hang");

    Hang(viewer, 30000);
    ASSERT_TRUE(PumpUntil([&] { return NoteShows(viewer); }, 7000));
    RECT end = WindowRectOf(ButtonOf(viewer, kEnd));
    InputWatcher input;
    ASSERT_TRUE(input.watching());
    ASSERT_TRUE(input.MovePointerTo({(end.left + end.right) / 2, (end.top + end.bottom) / 2}));
    LeftClick();
    EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(viewer.process, 0) == WAIT_OBJECT_0; }, 2000));
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(viewer.process, &exitCode) && exitCode == 1) << exitCode;
    EXPECT_EQ(WaitForSingleObject(other.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "another editor ended";
    EXPECT_EQ(EmbeddedEditorOf(viewer.container), nullptr);
    const DWORD closing = GetTickCount();
    viewer.close(viewer.container);
    EXPECT_LT(GetTickCount() - closing, 100u);
    EXPECT_FALSE(IsWindow(viewer.container));

    TerminateProcess(other.hProcess, 0);
    WaitForSingleObject(other.hProcess, 5000);
    CloseHandle(other.hProcess);
    CloseHandle(other.hThread);
}

}  // namespace
