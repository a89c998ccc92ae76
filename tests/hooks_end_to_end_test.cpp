// The two input hooks as the user meets them: the plug-in embeds the stand-in editor (a
// process of its own), its hooks run on the editor's GUI thread, and the test types and
// clicks with injected hardware input. What reached the editor comes from its log, what
// reached the host from the host windows, and the injected input from low-level hooks.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "common/names.h"
#include "support/editor.h"
#include "support/host_windows.h"
#include "support/input.h"
#include "support/plugin.h"
#include "support/stand_in_test.h"
#include "support/viewer.h"

namespace {

// A key that no hook handles: its arrival in the editor shows that every key typed before
// it has been dealt with.
constexpr BYTE kSentinelKey = VK_F5;
// The pointer rests on a free spot of the 1024 x 768 screen, away from every test window,
// until a test moves it.
constexpr POINT kFreeSpot = {1010, 750};

std::string KeyLine(const char* message, BYTE key) {
    return std::string("key edit ") + message + " " + std::to_string(key);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

GUITHREADINFO GuiOf(DWORD thread) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(thread, &info);
    return info;
}

struct DialogSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND wnd, LPARAM lParam) {
    auto* search = reinterpret_cast<DialogSearch*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(wnd, &process);
    if (process != search->process || !IsWindowVisible(wnd) || ClassOf(wnd) != L"#32770")
        return TRUE;
    search->found = wnd;
    return FALSE;
}

// The visible message dialog of a process, or null.
HWND VisibleDialogOf(DWORD process) {
    DialogSearch search = {process, nullptr};
    EnumWindows(FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

POINT CenterOf(HWND wnd) {
    RECT rect;
    GetWindowRect(wnd, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// A point of the dialog's client area where no control lies, so that a click there
// neither presses a button nor moves the focus.
bool BareSpotOf(HWND dialog, POINT* screen) {
    RECT client;
    GetClientRect(dialog, &client);
    for (int y = client.bottom - 4; y > client.top; y -= 4) {
        for (int x = client.left + 4; x < client.right; x += 4) {
            POINT point = {x, y};
            if (ChildWindowFromPointEx(dialog, point, CWP_ALL) == dialog) {
                ClientToScreen(dialog, &point);
                *screen = point;
                return true;
            }
        }
    }
    return false;
}

class HooksEndToEnd : public StandInTest {
protected:
    void SetUp() override {
        StandInTest::SetUp();
        if (HasFatalFailure())
            return;
        InstallStandInEditor(plugin_.directory);
        ASSERT_TRUE(input_.MovePointerTo(kFreeSpot));
        ASSERT_TRUE(input_.watching());
    }

    void TearDown() override {
        // A failed test may leave keys held or a dialog open; neither may leak into the next.
        for (BYTE key : {BYTE{VK_ESCAPE}, BYTE{VK_RETURN}, BYTE{VK_F4}, BYTE{VK_CONTROL}, BYTE{VK_MENU}, BYTE{VK_SHIFT},
                         kSentinelKey})
            if (GetAsyncKeyState(key) & 0x8000)
                ReleaseKey(key);
        if (HasFailure() && log_)
            std::cout << "editor log:\n" << testing::PrintToString(log_->Lines()) << "\n";
        CloseViewer();
        elsewhere_.clear();
        StandInTest::TearDown();
    }

    // Opens a viewer, stand-alone (hostClass null) or in quick view inside a host main
    // window of hostClass, and gives the editor's edit control the keyboard focus.
    void OpenViewer(const wchar_t* hostClass) {
        host_ = hostClass ? CreateQuickView(hostClass) : CreateStandAloneLister();
        container_ = plugin_.listLoadW(host_.lister, file_.data(), 0);
        ASSERT_NE(container_, nullptr);
        RECT client;
        GetClientRect(host_.lister, &client);
        SetWindowPos(container_, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER);
        editor_ = EmbeddedEditorOf(container_);
        ASSERT_NE(editor_, nullptr);
        edit_ = GetWindow(editor_, GW_CHILD);
        editorThread_ = GetWindowThreadProcessId(editor_, &editorProcess_);
        ASSERT_EQ(ClassOf(edit_), L"Edit");
        FocusEditor();
    }

    // The editor's input is attached to this thread's since the embedding: the host's
    // top-level window in front and the edit control focused make the editor's thread the
    // one that receives (and hooks) the keys.
    void FocusEditor() {
        SetForegroundWindow(host_.main ? host_.main : host_.lister);
        SetFocus(edit_);
        ASSERT_TRUE(PumpUntil([&] { return GuiOf(editorThread_).hwndFocus == edit_; }, 2000))
            << "the edit control did not get the focus";
    }

    void CloseViewer() {
        if (container_ && IsWindow(container_)) {
            if (HWND dialog = VisibleDialogOf(editorProcess_)) {
                PostMessageW(dialog, WM_CLOSE, 0, 0);
                PumpUntil([&] { return !IsWindow(dialog); }, 2000);
            }
            plugin_.listCloseWindow(container_);
            log_->WaitForLine("exit 0", 3000);
        }
        container_ = nullptr;
        host_ = HostWindows();
    }

    // The log lines from the mark on.
    std::vector<std::string> LinesSinceMark() const {
        std::vector<std::string> lines = log_->Lines();
        lines.erase(lines.begin(), lines.begin() + std::min(mark_, lines.size()));
        return lines;
    }
    void Mark() { mark_ = log_->Lines().size(); }
    // Lines that are text or begin with it and a blank (a key line goes on with its lParam).
    size_t CountSinceMark(const std::string& text) const {
        std::vector<std::string> lines = LinesSinceMark();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line == text || StartsWith(line, text + ' '); });
    }
    bool WaitSinceMark(const std::string& line, DWORD timeoutMs = 2000) const {
        return PumpUntil([&] { return CountSinceMark(line) > 0; }, timeoutMs);
    }
    // The lines since the mark about one key, whatever the message.
    std::vector<std::string> KeyLinesSinceMark(BYTE key) const {
        std::vector<std::string> found;
        std::string suffix(1, ' ');
        suffix += std::to_string(key);
        suffix += ' ';
        for (const std::string& line : LinesSinceMark())
            if (StartsWith(line, "key ") && line.find(suffix) != std::string::npos)
                found.push_back(line);
        return found;
    }

    // Taps the sentinel key and waits until the editor has it: every key typed before has
    // been through the hook by then. With Alt held the key arrives as a system key.
    bool Settle() {
        auto arrived = [&] {
            return CountSinceMark(KeyLine("WM_KEYDOWN", kSentinelKey)) +
                   CountSinceMark(KeyLine("WM_SYSKEYDOWN", kSentinelKey));
        };
        const size_t before = arrived();
        PressKey(kSentinelKey);
        ReleaseKey(kSentinelKey);
        return PumpUntil([&] { return arrived() > before; }, 2000);
    }

    // Asks the editor for one of its message dialogs and waits until it is up, active, and
    // its focused control is the one with identifier focusedId.
    HWND OpenEditorDialog(WPARAM request, int focusedId) {
        // A dialog that appears under the pointer takes the key state from the X server too.
        EXPECT_TRUE(input_.MovePointerTo(kFreeSpot));
        PostMessageW(editor_, WM_COMMAND, request, 0);
        HWND dialog = nullptr;
        const bool ready = PumpUntil(
            [&] {
                dialog = VisibleDialogOf(editorProcess_);
                GUITHREADINFO gui = GuiOf(editorThread_);
                return dialog && gui.hwndActive == dialog && gui.hwndFocus &&
                       GetDlgCtrlID(gui.hwndFocus) == focusedId && GetParent(gui.hwndFocus) == dialog;
            },
            3000);
        GUITHREADINFO gui = GuiOf(editorThread_);
        EXPECT_TRUE(ready) << "dialog " << dialog << " for request " << request << ", active " << gui.hwndActive
                           << ", focus " << gui.hwndFocus << " (identifier " << GetDlgCtrlID(gui.hwndFocus)
                           << "), foreground " << GetForegroundWindow() << ", owner "
                           << GetWindow(dialog, GW_OWNER) << ", lister " << host_.lister << ", editor " << editor_;
        return ready ? dialog : nullptr;
    }

    size_t WmCloseCount() const {
        size_t count = 0;
        for (const HostMessage& message : HostMessages())
            if (message.message == WM_CLOSE)
                ++count;
        return count;
    }

    InputWatcher input_;
    std::vector<HostWindows> elsewhere_;  // host main windows beside the viewer
    HWND container_ = nullptr;
    HWND editor_ = nullptr;
    HWND edit_ = nullptr;
    DWORD editorThread_ = 0;
    DWORD editorProcess_ = 0;
    size_t mark_ = 0;
};

TEST_F(HooksEndToEnd, F4IsTheEditorsCommandAndNeverAKeyAndCtrlW_AltWAndAltEnterAreDropped) {
    OpenViewer(nullptr);
    struct Row {
        const char* name;
        BYTE modifier;  // 0: none
        BYTE key;
        size_t commands;     // editor commands 4216 that the keystroke makes
        bool reachesEditor;  // the key's own messages reach the edit control
    };
    const Row rows[] = {
        {"F4", 0, VK_F4, 1, false},
        {"Shift+F4", VK_SHIFT, VK_F4, 1, false},
        {"Alt+F4", VK_MENU, VK_F4, 1, false},
        {"Ctrl+F4", VK_CONTROL, VK_F4, 0, false},
        {"Ctrl+W", VK_CONTROL, 'W', 0, false},
        {"Alt+W", VK_MENU, 'W', 0, false},
        {"Alt+Enter", VK_MENU, VK_RETURN, 0, false},
        // What an unhandled keystroke looks like in the log, so that "not there" means something.
        {"W", 0, 'W', 0, true},
        {"Enter", 0, VK_RETURN, 0, true},
        // The focus is on the editor's own control, not on a host window: no hand-over.
        {"1", 0, '1', 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClearHostMessages();
        Mark();
        if (row.modifier)
            PressKey(row.modifier);
        // Held, and seen through the hook, before it is released.
        PressKey(row.key);
        ASSERT_TRUE(Settle());
        ReleaseKey(row.key);
        // The sentinel with the modifier still held also keeps a lone Alt from opening a menu.
        ASSERT_TRUE(Settle());
        if (row.modifier)
            ReleaseKey(row.modifier);
        ASSERT_TRUE(Settle());

        EXPECT_EQ(CountSinceMark("command 4216 0x0"), row.commands);
        std::vector<std::string> keyLines = KeyLinesSinceMark(row.key);
        if (row.reachesEditor) {
            EXPECT_EQ(CountSinceMark(KeyLine("WM_KEYDOWN", row.key)), 1u) << testing::PrintToString(keyLines);
        } else {
            EXPECT_EQ(keyLines, std::vector<std::string>{});
        }
        EXPECT_EQ(WmCloseCount(), 0u) << "the viewer was asked to close";
        EXPECT_EQ(CountSinceMark("close"), 0u) << "the editor was closed";
    }
    EXPECT_EQ(input_.Count(WM_LBUTTONDOWN), 0u) << "no key here makes a click";
    EXPECT_EQ(input_.Count(WM_KEYDOWN, '1'), 1u) << "the digit was injected again";
}

TEST_F(HooksEndToEnd, EscClosesAStandAloneListerAndIsDroppedInQuickView) {
    struct Row {
        const wchar_t* hostClass;  // null: stand-alone lister
        bool closesLister;         // and the Esc press reaches the editor
    };
    const Row rows[] = {
        {nullptr, true},
        {L"TTOTAL_CMD", false},
        {L"FreeCommanderXE.SingleInst.1", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.hostClass ? testing::Message() << "quick view in " << row.hostClass
                                   : testing::Message() << "stand-alone lister");
        OpenViewer(row.hostClass);
        ClearHostMessages();
        Mark();
        PressKey(VK_ESCAPE);
        if (row.closesLister) {
            // The hook reads the physical key state, so the key stays down until the effect.
            EXPECT_TRUE(PumpUntil([&] { return HostMessagesOf(host_.lister, WM_CLOSE).size() > 0; }, 2000));
            EXPECT_TRUE(WaitSinceMark(KeyLine("WM_KEYDOWN", VK_ESCAPE)));
        }
        ASSERT_TRUE(Settle());
        ReleaseKey(VK_ESCAPE);
        // The release is no close request: the key is up when the hook sees it.
        EXPECT_TRUE(WaitSinceMark(KeyLine("WM_KEYUP", VK_ESCAPE)));
        ASSERT_TRUE(Settle());

        if (row.closesLister) {
            EXPECT_EQ(HostMessagesOf(host_.lister, WM_CLOSE).size(), 1u);
            EXPECT_EQ(WmCloseCount(), 1u);
            EXPECT_EQ(CountSinceMark(KeyLine("WM_KEYDOWN", VK_ESCAPE)), 1u);
        } else {
            EXPECT_EQ(WmCloseCount(), 0u);
            EXPECT_EQ(CountSinceMark(KeyLine("WM_KEYDOWN", VK_ESCAPE)), 0u);
            EXPECT_EQ(CountSinceMark(KeyLine("WM_CHAR", VK_ESCAPE)), 0u);
        }
        EXPECT_EQ(CountSinceMark("close"), 0u) << "Esc never closes the editor itself";
        CloseViewer();
    }
}

enum class Answer { kEnter, kClickOnCancel };

struct DialogRow {
    const char* name;
    const wchar_t* hostClass;  // null: stand-alone lister
    WPARAM request;            // which of the stand-in's dialogs
    int focusedId;
    Answer answer;
    bool dismissedByHook;
    // What MessageBoxW returns in the editor; 0 when it is the dialog's own affair (Enter
    // still reaches the dialog after the hook moved the focus away from it).
    int result;
};

TEST_F(HooksEndToEnd, AnsweringAnEditorDialogOnIdentifier2ClosesItAndTakesTheUserBack) {
    const DialogRow rows[] = {
        {"Enter, Cancel focused, stand-alone", nullptr, kStandInAskCancelFocused, IDCANCEL, Answer::kEnter, true, 0},
        {"Enter, Cancel focused, quick view", L"TTOTAL_CMD", kStandInAskCancelFocused, IDCANCEL, Answer::kEnter, true,
         0},
        {"Click on Cancel, stand-alone", nullptr, kStandInAskCancelFocused, IDCANCEL, Answer::kClickOnCancel, true,
         IDCANCEL},
        {"Click on Cancel, quick view", L"TTOTAL_CMD", kStandInAskCancelFocused, IDCANCEL, Answer::kClickOnCancel,
         true, IDCANCEL},
        // The dialog answers these itself; the hooks leave the viewer alone.
        {"Enter, OK focused, stand-alone", nullptr, kStandInAskOkFocused, IDOK, Answer::kEnter, false, IDOK},
        {"Enter, title \"Velnote \", stand-alone", nullptr, kStandInAskNearMissTitle, IDCANCEL, Answer::kEnter, false,
         IDCANCEL},
        {"Click on Cancel, title \"Velnote \", stand-alone", nullptr, kStandInAskNearMissTitle, IDCANCEL,
         Answer::kClickOnCancel, false, IDCANCEL},
    };
    for (const DialogRow& row : rows) {
        SCOPED_TRACE(row.name);
        OpenViewer(row.hostClass);
        Mark();
        HWND dialog = OpenEditorDialog(row.request, row.focusedId);
        ASSERT_NE(dialog, nullptr);
        ClearHostMessages();
        input_.Clear();
        std::string ended = "dialog-result " + std::to_string(row.request);
        if (row.result) {
            ended += ' ';
            ended += std::to_string(row.result);
        }
        if (row.answer == Answer::kEnter) {
            // The hooks' click lands on the dialog itself, where it does nothing.
            POINT bare;
            ASSERT_TRUE(BareSpotOf(dialog, &bare));
            ASSERT_TRUE(input_.MovePointerTo(bare));
            PressKey(VK_RETURN);  // held: the hook reads the physical state of Enter
            EXPECT_TRUE(WaitSinceMark(ended)) << testing::PrintToString(LinesSinceMark());
            ReleaseKey(VK_RETURN);
        } else {
            ASSERT_TRUE(input_.MovePointerTo(CenterOf(GetDlgItem(dialog, IDCANCEL))));
            LeftClick();
            EXPECT_TRUE(WaitSinceMark(ended)) << testing::PrintToString(LinesSinceMark());
        }
        EXPECT_EQ(CountSinceMark("dialog-result " + std::to_string(row.request)), 1u);
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(dialog); }, 2000)) << "the dialog is still there";

        // The hooks post the close request before the dialog's result is logged: when none
        // is expected, a short pump is enough to see it would have come.
        const bool listerClosed = PumpUntil([&] { return HostMessagesOf(host_.lister, WM_CLOSE).size() > 0; },
                                            row.dismissedByHook && !row.hostClass ? 2000 : 300);
        EXPECT_EQ(listerClosed, row.dismissedByHook && !row.hostClass);
        if (row.hostClass && row.dismissedByHook) {
            // Under Wine the foreground may read as a window inside the host main window. The
            // dialog's owner would take it back anyway; the marked click below shows the hooks
            // answered the dialog.
            EXPECT_TRUE(PumpUntil([&] { return GetAncestor(GetForegroundWindow(), GA_ROOT) == host_.main; }, 2000))
                << "foreground " << GetForegroundWindow() << ", host main window " << host_.main;
        }
        EXPECT_EQ(HostMessagesOf(host_.lister, WM_CLOSE).size(), listerClosed ? 1u : 0u);
        if (host_.main) {
            EXPECT_EQ(HostMessagesOf(host_.main, WM_CLOSE).size(), 0u);
        }

        // The hooks' click, one for each answer to a "Velnote" dialog, carries the mark.
        size_t marked = 0;
        for (const SeenInput& seen : input_.Seen())
            if (seen.message == WM_LBUTTONDOWN && seen.extraInfo == kSyntheticClickMark)
                ++marked;
        const bool velnoteTitle = row.request != kStandInAskNearMissTitle;
        EXPECT_EQ(marked, velnoteTitle ? 1u : 0u);
        EXPECT_EQ(CountSinceMark("close"), 0u) << "the editor itself is not closed by the hooks";
        CloseViewer();
    }
}

// In lister mode the user goes back to the host main window that runs elsewhere.
TEST_F(HooksEndToEnd, AfterAStandAloneListerIsClosedTheHostMainWindowComesToTheFront) {
    for (const wchar_t* hostClass : {L"TTOTAL_CMD", L"FreeCommanderXE.SingleInst.1"}) {
        SCOPED_TRACE(testing::Message() << "a " << hostClass << " window elsewhere");
        elsewhere_.push_back(CreateQuickView(hostClass));
        HWND hostMain = elsewhere_.back().main;
        OpenViewer(nullptr);
        Mark();
        HWND dialog = OpenEditorDialog(kStandInAskCancelFocused, IDCANCEL);
        ASSERT_NE(dialog, nullptr);
        ClearHostMessages();
        POINT bare;
        ASSERT_TRUE(BareSpotOf(dialog, &bare));
        ASSERT_TRUE(input_.MovePointerTo(bare));
        PressKey(VK_RETURN);
        EXPECT_TRUE(PumpUntil([&] { return HostMessagesOf(host_.lister, WM_CLOSE).size() > 0; }, 2000));
        ReleaseKey(VK_RETURN);
        EXPECT_TRUE(WaitSinceMark("dialog-result 40001"));
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(dialog); }, 2000)) << "the dialog is still there";
        // The host answers the close request as the file manager does: it ends the viewer and
        // destroys the lister, which as the dialog's owner could otherwise take the activation back.
        CloseViewer();
        EXPECT_TRUE(PumpUntil([&] { return GetAncestor(GetForegroundWindow(), GA_ROOT) == hostMain; }, 2000))
            << "foreground " << GetForegroundWindow() << ", host main window " << hostMain;
        elsewhere_.back() = HostWindows();
    }
}

// A click that does not close the dialog comes back through the mouse hook as a release
// on the still active dialog; the hook's own click must not answer it once more.
TEST_F(HooksEndToEnd, AClickThatLeavesTheDialogOpenIsNotRepeated) {
    OpenViewer(nullptr);
    Mark();
    HWND dialog = OpenEditorDialog(kStandInAskOkFocused, IDOK);
    ASSERT_NE(dialog, nullptr);
    POINT bare;
    ASSERT_TRUE(BareSpotOf(dialog, &bare));
    ASSERT_TRUE(input_.MovePointerTo(bare));
    ClearHostMessages();
    input_.Clear();
    LeftClick();
    // The hook's click lands on the dialog too; time enough for many rounds of a loop.
    ASSERT_TRUE(PumpUntil([&] { return input_.Count(WM_LBUTTONUP) >= 2; }, 2000)) << "no click by the hook";
    PumpFor(700);

    size_t downs = 0, ups = 0, marked = 0;
    for (const SeenInput& seen : input_.Seen()) {
        downs += seen.message == WM_LBUTTONDOWN;
        ups += seen.message == WM_LBUTTONUP;
        marked += (seen.message == WM_LBUTTONDOWN || seen.message == WM_LBUTTONUP) &&
                  seen.extraInfo == kSyntheticClickMark;
    }
    EXPECT_EQ(downs, 2u) << "the test's click and the hook's one";
    EXPECT_EQ(ups, 2u);
    EXPECT_EQ(marked, 2u);
    EXPECT_TRUE(IsWindowVisible(dialog)) << "the focus is on OK: the dialog stays";
    EXPECT_EQ(CountSinceMark("dialog-result 40002 1"), 0u);
    EXPECT_EQ(WmCloseCount(), 0u);
}

// A modeless dialog of the embedded editor leaves the lister enabled: after the focus went
// elsewhere in the lister, giving the viewer the focus puts it back in the dialog.
TEST_F(HooksEndToEnd, GivingTheViewerTheFocusPutsItInAnOpenEditorDialog) {
    for (const wchar_t* hostClass : {static_cast<const wchar_t*>(nullptr), L"TTOTAL_CMD"}) {
        SCOPED_TRACE(hostClass ? "quick view" : "stand-alone lister");
        OpenViewer(hostClass);
        Mark();
        PostMessageW(editor_, WM_COMMAND, kStandInOpenModeless, 0);
        ASSERT_TRUE(WaitSinceMark("modeless-open"));
        const std::vector<std::string> opened = log_->Events("modeless-open");
        const std::string fieldHex = opened.back().substr(opened.back().find(' ') + 1);
        HWND field = ParseLoggedWindow(fieldHex);
        ASSERT_TRUE(PumpUntil([&] { return GuiOf(editorThread_).hwndFocus == field; }, 2000));

        SetFocus(host_.lister);
        ASSERT_TRUE(PumpUntil([&] { return GetFocus() == host_.lister; }, 2000)) << "the focus did not leave";
        Mark();
        SetFocus(container_);
        EXPECT_TRUE(WaitSinceMark("modeless-focus " + fieldHex)) << testing::PrintToString(LinesSinceMark());
        EXPECT_TRUE(PumpUntil([&] { return GuiOf(editorThread_).hwndFocus == field; }, 2000))
            << "focus " << GuiOf(editorThread_).hwndFocus << ", field " << field;
        CloseViewer();
    }
}

}  // namespace
