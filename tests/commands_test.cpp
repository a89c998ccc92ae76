// The host's viewer commands (search, print, copy, select all) reaching the embedded
// stand-in editor, end to end: the editor runs in its own process and logs what reaches
// it; import-table fakes on the plug-in record what it sends and in which order.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/input.h"
#include "support/recorder.h"
#include "support/viewer.h"

namespace {

constexpr WPARAM kSearchWithFlags = 4158;
constexpr WPARAM kSearchNoFlags = 4159;
constexpr WPARAM kPrint = 4108;
constexpr WPARAM kCopy = 4154;
constexpr WPARAM kSelectAll = 4157;
constexpr int kOk = 0;
constexpr int kError = 1;

// The editor log's lines written since a mark.
class LogMark {
public:
    explicit LogMark(const EditorLog& log) : log_(log), mark_(log.Lines().size()) {}
    std::vector<std::string> NewLines() const {
        std::vector<std::string> lines = log_.Lines();
        return std::vector<std::string>(lines.begin() + std::min(mark_, lines.size()), lines.end());
    }

private:
    const EditorLog& log_;
    size_t mark_;
};

std::string CommandLine(WPARAM id) {
    return "command " + std::to_string(id) + " 0x0";
}

class Commands : public ViewerTest {
protected:
    // Runs one export call on a fresh recording with the recording fakes bound, and returns
    // its result. Further fakes that the call needs are bound inside call.
    int CallRecorded(const std::function<int()>& call) {
        ClearRecorded();
        RecordingFakes fakes(plugin_.module);
        return call();
    }

    // The call that left mark behind reached neither the platform nor the editor.
    void ExpectNothingSent(const LogMark& mark) {
        PumpFor(50);
        EXPECT_SEQUENCE(std::vector<Entry>{});
        EXPECT_EQ(mark.NewLines(), std::vector<std::string>{});
    }

    // Checks what one search call did, given the log lines it produced: the editor's search
    // command, the search window opened by it, then the text in that window's field; and
    // the plug-in's calls in the same order, the active window looked up only after the
    // command had returned.
    void ExpectSearch(const std::vector<std::string>& lines, WPARAM command,
                      const std::string& utf8Text, const Entry& setText) {
        ASSERT_EQ(lines.size(), 3u) << testing::PrintToString(lines);
        EXPECT_EQ(lines[0], CommandLine(command));
        const std::string open = "search-open " + std::to_string(command) + " ";
        ASSERT_EQ(lines[1].rfind(open, 0), 0u) << lines[1];
        EXPECT_EQ(lines[2], "search-text " + utf8Text);

        HWND search = ParseLoggedWindow(lines[1].substr(open.size()));
        HWND field = GetWindow(GetWindow(search, GW_CHILD), GW_CHILD);
        ASSERT_NE(field, nullptr);
        Entry expectedSetText = setText;
        expectedSetText.window = WindowName(field);
        EXPECT_SEQUENCE((std::vector<Entry>{
            {"SendMessageTimeoutW", "editor", WM_COMMAND, command, 0},
            {"GetActiveWindow", WindowName(search)},
            expectedSetText,
        }));
    }
};

TEST_F(Commands, SearchSendsTheCommandTheFlagsChooseThenTheTextToTheSearchField) {
    Viewer viewer = Open(ViewerMode::kLister);
    ASSERT_TRUE(viewer.IsOpen());
    struct Row {
        int flags;
        std::wstring text;
        WPARAM command;
    };
    const Row rows[] = {
        {0, L"needle", kSearchNoFlags},
        {1, L"find first", kSearchWithFlags},                 // lcs_findfirst
        {2, L"Match Case", kSearchWithFlags},                 // lcs_matchcase
        {4, L"whole words", kSearchWithFlags},                // lcs_wholewords
        {8, L"backwards", kSearchWithFlags},                  // lcs_backwards
        {1 | 2, L"first, case", kSearchWithFlags},
        {2 | 4 | 8, L"case words back", kSearchWithFlags},
        {1 | 2 | 4 | 8, L"all four", kSearchWithFlags},
        {0x100, L"a flag the host does not define", kSearchWithFlags},
        {-1, L"every bit", kSearchWithFlags},
        {0, L"Gr\u00F6\u00DFe \u2211 \u65E5\u672C \U0001F600", kSearchNoFlags},
        {0, L"", kSearchNoFlags},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "flags " << row.flags << ", text \"" << ToUtf8(row.text) << "\"");
        std::wstring text = row.text;
        LogMark mark(*log_);
        int result = CallRecorded([&] { return plugin_.listSearchTextW(viewer.container, text.data(), row.flags); });
        EXPECT_EQ(result, kOk);
        // The text itself is handed on, not a copy of it.
        ExpectSearch(mark.NewLines(), row.command, ToUtf8(row.text),
                     {"SendMessageTimeoutW", "", WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.data())});
    }
}

TEST_F(Commands, AnsiSearchTextArrivesInWideFormOrNotAtAllWhenItDoesNotFit) {
    // Wine's prefix runs with the Western European ANSI code page.
    ASSERT_EQ(GetACP(), 1252u);
    Viewer viewer = Open(ViewerMode::kQuickView);
    ASSERT_TRUE(viewer.IsOpen());
    struct Row {
        const char* name;
        std::string text;  // in code page 1252
        int flags;
        int result;
        std::string arrives;  // UTF-8, when the result is 0
    };
    const std::string fits(259, 'a');  // 260 wide characters with the terminator
    const Row rows[] = {
        {"ASCII", "plain text", 0, kOk, "plain text"},
        {"e acute 0xE9", "caf\xE9 cr\xE8me", 2, kOk, "caf\u00E9 cr\u00E8me"},
        {"euro sign 0x80", "\x80 99", 0, kOk, "\u20AC 99"},
        {"empty", "", 1, kOk, ""},
        {"259 characters", fits, 0, kOk, fits},
        {"259 characters ending in 0xE9", std::string(258, 'b') + "\xE9", 8, kOk, std::string(258, 'b') + "\u00E9"},
        {"260 characters", std::string(260, 'c'), 0, kError, ""},
        {"1000 characters", std::string(1000, 'd'), 4, kError, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string text = row.text;
        LogMark mark(*log_);
        int result = CallRecorded([&] { return plugin_.listSearchText(viewer.container, text.data(), row.flags); });
        EXPECT_EQ(result, row.result);
        if (row.result == kError) {
            ExpectNothingSent(mark);
            continue;
        }
        // The converted text lies in the plug-in's own buffer: its address is not ours to know.
        ExpectSearch(mark.NewLines(), row.flags ? kSearchWithFlags : kSearchNoFlags, row.arrives,
                     {"SendMessageTimeoutW", "", WM_SETTEXT, 0, 0, kAnyLParam});
    }
}

// What GetActiveWindow answers the plug-in in the test below.
HWND gScriptedActive;
HWND WINAPI ScriptedGetActiveWindow() {
    Record({"GetActiveWindow", WindowName(gScriptedActive)});
    return gScriptedActive;
}

TEST_F(Commands, SearchTextReachesNoWindowWhenTheActiveWindowHasNoGrandchild) {
    Viewer viewer = Open(ViewerMode::kLister);
    ASSERT_TRUE(viewer.IsOpen());
    HWND childless = CreateRecordedWindow(L"VelnoteTestActive", L"", WS_OVERLAPPEDWINDOW, nullptr, "childless");
    HWND parent = CreateRecordedWindow(L"VelnoteTestActive", L"", WS_OVERLAPPEDWINDOW, nullptr, "parent");
    CreateRecordedWindow(L"VelnoteTestActive", L"", WS_CHILD, parent, "only child");
    struct Row {
        const char* name;
        HWND active;
        int flags;
    };
    const Row rows[] = {
        {"no active window", nullptr, 0},
        {"an active window without a child", childless, 1},
        {"an active window whose child has no child", parent, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        gScriptedActive = row.active;
        std::wstring text = L"lost";
        LogMark mark(*log_);
        int result = CallRecorded([&] {
            ScopedImport active(plugin_.module, "USER32.dll", "GetActiveWindow",
                                reinterpret_cast<void*>(&ScriptedGetActiveWindow));
            return plugin_.listSearchTextW(viewer.container, text.data(), row.flags);
        });
        EXPECT_EQ(result, kOk);
        const WPARAM command = row.flags ? kSearchWithFlags : kSearchNoFlags;
        EXPECT_SEQUENCE((std::vector<Entry>{
            {"SendMessageTimeoutW", "editor", WM_COMMAND, command, 0},
            {"GetActiveWindow", WindowName(row.active)},
            {"SendMessageTimeoutW", "null", WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.data())},
        }));
        std::vector<std::string> lines = mark.NewLines();
        ASSERT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
        EXPECT_EQ(lines[0], CommandLine(command));
        EXPECT_EQ(lines[1].rfind("search-open ", 0), 0u) << lines[1];
    }
    DestroyWindow(parent);
    DestroyWindow(childless);
}

TEST_F(Commands, SendCommandCarriesOutCopyAndSelectAllOnly) {
    Viewer viewer = Open(ViewerMode::kLister);
    ASSERT_TRUE(viewer.IsOpen());
    struct Row {
        const char* name;
        int command;
        int parameter;  // ignored
        int result;
        WPARAM sent;  // 0: nothing
    };
    const Row rows[] = {
        {"lc_copy", 1, 0, kOk, kCopy},
        {"lc_copy with a parameter", 1, 0x7FFF, kOk, kCopy},
        {"lc_selectall", 3, 0, kOk, kSelectAll},
        {"lc_selectall with a parameter", 3, -1, kOk, kSelectAll},
        {"lc_newparams", 2, 0, kError, 0},
        {"lc_setpercent", 4, 50, kError, 0},
        {"zero", 0, 0, kError, 0},
        {"five", 5, 0, kError, 0},
        {"minus one", -1, 0, kError, 0},
        {"lc_copy in the high word", 0x10001, 0, kError, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LogMark mark(*log_);
        int result =
            CallRecorded([&] { return plugin_.listSendCommand(viewer.container, row.command, row.parameter); });
        EXPECT_EQ(result, row.result);
        if (row.sent) {
            EXPECT_SEQUENCE((std::vector<Entry>{{"SendMessageTimeoutW", "editor", WM_COMMAND, row.sent, 0}}));
            EXPECT_EQ(mark.NewLines(), std::vector<std::string>{CommandLine(row.sent)});
        } else {
            ExpectNothingSent(mark);
        }
    }
}

TEST_F(Commands, PrintSendsThePrintCommandWhateverTheOtherArguments) {
    Viewer viewer = Open(ViewerMode::kQuickView);
    ASSERT_TRUE(viewer.IsOpen());
    char file[] = "C:\\some\\other file.txt";
    char printer[] = "Printer on LPT1";
    RECT margins = {10, 20, 30, 40};
    struct Row {
        const char* name;
        char* file;
        char* printer;
        int flags;
        RECT* margins;
    };
    const Row rows[] = {
        {"all given", file, printer, 1, &margins},
        {"all null", nullptr, nullptr, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LogMark mark(*log_);
        int result = CallRecorded(
            [&] { return plugin_.listPrint(viewer.container, row.file, row.printer, row.flags, row.margins); });
        EXPECT_EQ(result, kOk);
        EXPECT_SEQUENCE((std::vector<Entry>{{"SendMessageTimeoutW", "editor", WM_COMMAND, kPrint, 0}}));
        EXPECT_EQ(mark.NewLines(), std::vector<std::string>{CommandLine(kPrint)});
    }
}

TEST_F(Commands, EveryCommandOnAContainerWithoutEditorFailsAndSendsNothing) {
    struct Call {
        const char* name;
        std::function<int(const Plugin&, HWND)> call;
    };
    const Call calls[] = {
        {"ListSearchTextW, flags 0", [](const Plugin& p, HWND c) { wchar_t t[] = L"x"; return p.listSearchTextW(c, t, 0); }},
        {"ListSearchTextW, flags 1", [](const Plugin& p, HWND c) { wchar_t t[] = L"x"; return p.listSearchTextW(c, t, 1); }},
        {"ListSearchText, flags 0", [](const Plugin& p, HWND c) { char t[] = "x"; return p.listSearchText(c, t, 0); }},
        {"ListSearchText, flags 8", [](const Plugin& p, HWND c) { char t[] = "x"; return p.listSearchText(c, t, 8); }},
        {"ListPrint", [](const Plugin& p, HWND c) { return p.listPrint(c, nullptr, nullptr, 0, nullptr); }},
        {"ListSendCommand 1", [](const Plugin& p, HWND c) { return p.listSendCommand(c, 1, 0); }},
        {"ListSendCommand 3", [](const Plugin& p, HWND c) { return p.listSendCommand(c, 3, 0); }},
        {"ListSendCommand 2", [](const Plugin& p, HWND c) { return p.listSendCommand(c, 2, 0); }},
    };
    enum class Emptied { kEditorEnded, kEditorTakenOut };
    for (Emptied emptied : {Emptied::kEditorEnded, Emptied::kEditorTakenOut}) {
        const bool ended = emptied == Emptied::kEditorEnded;
        SCOPED_TRACE(ended ? "the editor has ended" : "the editor was taken out and still runs");
        Viewer viewer = Open(ended ? ViewerMode::kQuickView : ViewerMode::kLister);
        ASSERT_TRUE(viewer.IsOpen());
        if (ended) {
            PostMessageW(viewer.editor, WM_CLOSE, 0, 0);
            ASSERT_TRUE(viewer.WaitForEditorExit());
        } else {
            SetParent(viewer.editor, nullptr);
        }
        ASSERT_EQ(EmbeddedEditorOf(viewer.container), nullptr);
        ASSERT_TRUE(IsWindow(viewer.container));

        for (const Call& call : calls) {
            SCOPED_TRACE(call.name);
            LogMark mark(*log_);
            EXPECT_EQ(CallRecorded([&] { return call.call(plugin_, viewer.container); }), kError);
            ExpectNothingSent(mark);
        }
        if (!ended) {
            PostMessageW(viewer.editor, WM_CLOSE, 0, 0);
            EXPECT_TRUE(viewer.WaitForEditorExit());
        }
    }
}

// An editor that stops answering for a moment, shorter than the bound of a command and than
// the 5 s after which the system counts it as hung: a command waits for it and reaches it; a
// resize does not wait, nor does what a host does after one (repainting its windows with their
// children at once, taking keys), and the editor fills the container once it answers again.
TEST_F(Commands, AStalledEditorIsWaitedForByACommandNotByAResizeAndIsFittedOnceItAnswers) {
    constexpr LPARAM kStallMs = 1200;
    Viewer viewer = Open(ViewerMode::kLister);
    ASSERT_TRUE(viewer.IsOpen());
    RECT full;
    GetClientRect(viewer.host.lister, &full);
    MoveWindow(viewer.container, 0, 0, full.right, full.bottom, TRUE);
    ASSERT_TRUE(PumpUntil([&] { return SameRect(WindowRectOf(viewer.editor), ClientRectOnScreen(viewer.container)); }));
    SetFocus(viewer.host.lister);
    // A move that keeps the size brings no WM_SIZE: the editor, kept out of painting while it
    // did not answer, is drawn again once it answers all the same.
    PostMessageW(viewer.editor, WM_COMMAND, kStandInHang, 300);
    ASSERT_TRUE(log_->WaitForLine("hang 300"));
    MoveWindow(viewer.container, 0, 0, full.right, full.bottom, TRUE);
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(viewer.editor) != FALSE; }, 2000)) << "never drawn again";
    PostMessageW(viewer.editor, WM_COMMAND, kStandInHang, kStallMs);
    ASSERT_TRUE(log_->WaitForLine("hang " + std::to_string(kStallMs)));

    DWORD start = GetTickCount();
    MoveWindow(viewer.container, 0, 0, 310, 190, TRUE);
    MoveWindow(viewer.container, 0, 0, full.right, full.bottom, TRUE);
    RedrawWindow(viewer.host.lister, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EXPECT_LT(GetTickCount() - start, 500u) << "the resize or the host's repaint waited for the editor";
    ClearHostMessages();
    PressKey('A');
    ReleaseKey('A');
    EXPECT_TRUE(PumpUntil([&] { return !HostMessagesOf(viewer.host.lister, WM_KEYDOWN).empty(); }, 500))
        << "a key typed into the host waited for the editor";
    start = GetTickCount();
    EXPECT_EQ(plugin_.listSendCommand(viewer.container, 1, 0), kOk);
    EXPECT_GE(GetTickCount() - start, 300u) << "the command did not wait for the editor";
    EXPECT_EQ(log_->Events("command").back(), "4154 0x0");

    const RECT client = ClientRectOnScreen(viewer.container);
    EXPECT_TRUE(PumpUntil([&] { return SameRect(WindowRectOf(viewer.editor), client); }, 2000))
        << "the editor does not fill the container after the resize";
}

}  // namespace
