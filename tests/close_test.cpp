// Closing a viewer end to end: ListCloseWindow on a container holding the stand-in editor,
// which runs in its own process. Import-table fakes on the plug-in record each platform
// call and then make it; the editor logs its close request and its exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "support/input.h"
#include "support/recorder.h"
#include "support/viewer.h"

namespace {

constexpr wchar_t kParentKey[] = L"Software\\DA74";
constexpr wchar_t kViewKey[] = L"Software\\DA74\\View64";
constexpr wchar_t kOtherKey[] = L"Software\\DA74\\Other";

// The closing sequence as recorded; hidden adds the hiding step, editor names the window the
// steps on the editor address ("null" once the editor has gone).
// The editor is first asked whether it answers at all.
std::vector<Entry> ClosingSequence(const std::string& active, bool hidden, const std::string& editor = "editor") {
    std::vector<Entry> sequence = {{"SendMessageTimeoutW", editor, WM_NULL}, {"GetActiveWindow", active}};
    if (hidden)
        sequence.push_back({"ShowWindow", editor, SW_HIDE});
    const std::vector<Entry> rest = {
        {"CloseWindow", editor},
        {"SendMessageTimeoutW", editor, WM_CLOSE, 0, 0},
        {"UnhookWindowsHookEx", "keyboard hook"},
        {"UnhookWindowsHookEx", "mouse hook"},
        {"RegDeleteKeyW", "HKCU\\Software\\DA74\\View64"},
        {"RegDeleteKeyW", "HKCU\\Software\\DA74"},
        {"DestroyWindow", "container"},
    };
    sequence.insert(sequence.end(), rest.begin(), rest.end());
    return sequence;
}

bool KeyExists(const wchar_t* subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void CreateKey(const wchar_t* subkey) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
    DWORD value = 1;
    RegSetValueExW(key, L"Setting", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

void RemoveKeys() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kParentKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kParentKey);
}

class Close : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        RemoveKeys();
    }
    void TearDown() override {
        RemoveKeys();
        ViewerTest::TearDown();
    }

    // Closes through the plug-in with the fakes bound, from a clean recording.
    void CloseRecorded(const Viewer& viewer) {
        ClearRecorded();
        RecordingFakes fakes(plugin_.module);
        plugin_.listCloseWindow(viewer.container);
    }

    // The editor handled one close request and then ended normally.
    void ExpectEditorClosedAndEnded(const Viewer& viewer) {
        EXPECT_TRUE(viewer.WaitForEditorExit()) << "the editor did not end with code 0 after its close request";
        std::vector<std::string> lines = EditorLines(viewer);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()), (std::vector<std::string>{"close", "exit 0"}));
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "close"), 1);
    }

    // The log lines of this viewer's editor: from its start line on (the test's viewers
    // follow one another, each editor ended before the next one starts).
    std::vector<std::string> EditorLines(const Viewer& viewer) {
        std::vector<std::string> lines = log_->Lines();
        const std::string start = "start " + std::to_string(viewer.processId) + " ";
        for (auto line = lines.begin(); line != lines.end(); ++line)
            if (line->rfind(start, 0) == 0)
                return std::vector<std::string>(line, lines.end());
        ADD_FAILURE() << "no start line of editor " << viewer.processId;
        return {};
    }

    // Nothing of the viewer is left in the lister window, which the host still owns.
    void ExpectContainerGone(const Viewer& viewer) {
        EXPECT_FALSE(IsWindow(viewer.container));
        EXPECT_TRUE(IsWindow(viewer.host.lister));
        EXPECT_EQ(GetWindow(viewer.host.lister, GW_CHILD), nullptr);
    }
};

// ListCloseWindow and the host's own DestroyWindow give the host its thread back within this.
constexpr DWORD kCloseBoundMs = 3000;

// The container's timer glances at the editor on every tick until it has settled; how often
// depends on timing, so every glance after the close's first is left out before comparing.
void DropRepeatedGlances() {
    std::vector<Entry> kept;
    bool glanced = false;
    for (const Entry& entry : Recorded()) {
        const bool glance = entry.source == "SendMessageTimeoutW" && entry.message == WM_NULL;
        if (glance && glanced)
            continue;
        glanced = glanced || glance;
        kept.push_back(entry);
    }
    ClearRecorded();
    for (const Entry& entry : kept)
        Record(entry);
}

// Which window is active when the host calls ListCloseWindow.
enum class Active { kHostMain, kLister, kElsewhere, kNone };

struct ActiveRow {
    const char* name;
    ViewerMode mode;
    const wchar_t* hostClass;  // the quick-view host main window's class
    Active active;
    bool hidden;
};

void PrintTo(const ActiveRow& row, std::ostream* out) {
    *out << row.name;
}

// A class name is registered once per process, whatever its case: each row runs in a
// process of its own, so "ttotal_cmd" is never taken for an earlier "TTOTAL_CMD".
class CloseUnderActiveWindow : public Close, public testing::WithParamInterface<ActiveRow> {};

TEST_P(CloseUnderActiveWindow, HidesTheEditorOnlyUnderAHostMainWindowThenMinimisesClosesAndDestroys) {
    const ActiveRow& row = GetParam();
    Viewer viewer = Open(row.mode, row.hostClass);
    ASSERT_TRUE(viewer.IsOpen());
    ASSERT_NE(viewer.keyboardHook, nullptr);
    ASSERT_NE(viewer.mouseHook, nullptr);
    CreateKey(kViewKey);

    HWND elsewhere = nullptr;
    HWND active = nullptr;
    switch (row.active) {
    case Active::kHostMain:
        active = viewer.host.main;
        break;
    case Active::kLister:
        active = viewer.host.lister;
        break;
    case Active::kElsewhere:
        elsewhere = CreateRecordedWindow(L"TTOTAL_CMD", L"Host elsewhere", WS_OVERLAPPEDWINDOW | WS_VISIBLE, nullptr,
                                         "elsewhere");
        active = elsewhere;
        break;
    case Active::kNone:
        break;
    }
    if (active)
        SetForegroundWindow(active);
    else
        SetActiveWindow(nullptr);
    ASSERT_EQ(GetActiveWindow(), active) << "the arrangement did not make the intended window active";
    ASSERT_TRUE(IsWindowVisible(viewer.editor));

    CloseRecorded(viewer);
    EXPECT_SEQUENCE(ClosingSequence(WindowName(active), row.hidden));
    EXPECT_EQ(VisibleWhenAskedToClose(), !row.hidden) << "visibility of the editor when WM_CLOSE reached it";
    ExpectContainerGone(viewer);
    ExpectEditorClosedAndEnded(viewer);
    EXPECT_FALSE(KeyExists(kViewKey));
    EXPECT_FALSE(KeyExists(kParentKey));
    if (elsewhere)
        DestroyWindow(elsewhere);
}

const ActiveRow kActiveRows[] = {
    {"QuickViewInTotalCommander", ViewerMode::kQuickView, L"TTOTAL_CMD", Active::kHostMain, true},
    {"QuickViewInFreeCommander", ViewerMode::kQuickView, L"FreeCommanderXE.SingleInst.1", Active::kHostMain, true},
    {"StandAloneListerActive", ViewerMode::kLister, nullptr, Active::kLister, false},
    {"TotalCommanderActiveOverAStandAloneLister", ViewerMode::kLister, nullptr, Active::kElsewhere, true},
    {"NoActiveWindow", ViewerMode::kQuickView, L"TTOTAL_CMD", Active::kNone, false},
    {"ClassThatBeginsWithTTOTAL_CMD", ViewerMode::kQuickView, L"TTOTAL_CMDX", Active::kHostMain, false},
    {"ClassTTOTAL_CMDInLowerCase", ViewerMode::kQuickView, L"ttotal_cmd", Active::kHostMain, false},
    {"ClassThatTTOTAL_CMDBeginsWith", ViewerMode::kQuickView, L"TTOTAL_CM", Active::kHostMain, false},
    {"ClassThatBeginsWithTheFreeCommanderName", ViewerMode::kQuickView, L"FreeCommanderXE.SingleInst.10",
     Active::kHostMain, false},
    {"FreeCommanderNameInLowerCase", ViewerMode::kQuickView, L"freecommanderxe.singleinst.1", Active::kHostMain,
     false},
};

INSTANTIATE_TEST_SUITE_P(ActiveWindow, CloseUnderActiveWindow, testing::ValuesIn(kActiveRows),
                         [](const testing::TestParamInfo<ActiveRow>& info) { return std::string(info.param.name); });

TEST_F(Close, RemovesTheViewKeyThenItsParentWhenThatHasNoOtherSubkey) {
    struct Row {
        const char* name;
        std::vector<const wchar_t*> before;  // keys created, parents first
        bool viewAfter, parentAfter, otherAfter;
    };
    const Row rows[] = {
        {"both keys, with values", {kParentKey, kViewKey}, false, false, false},
        {"a second subkey beside View64", {kParentKey, kViewKey, kOtherKey}, false, true, true},
        {"only the parent", {kParentKey}, false, false, false},
        {"only the second subkey", {kParentKey, kOtherKey}, false, true, true},
        {"neither key", {}, false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RemoveKeys();
        Viewer viewer = Open(ViewerMode::kLister);
        ASSERT_TRUE(viewer.IsOpen());
        for (const wchar_t* key : row.before)
            CreateKey(key);
        SetForegroundWindow(viewer.host.lister);
        ASSERT_EQ(GetActiveWindow(), viewer.host.lister);

        CloseRecorded(viewer);
        // The same calls whatever exists: a missing key or one that keeps a subkey stops nothing.
        EXPECT_SEQUENCE(ClosingSequence("lister", false));
        EXPECT_EQ(KeyExists(kViewKey), row.viewAfter);
        EXPECT_EQ(KeyExists(kParentKey), row.parentAfter);
        EXPECT_EQ(KeyExists(kOtherKey), row.otherAfter);
        ExpectContainerGone(viewer);
        ExpectEditorClosedAndEnded(viewer);
    }
}

TEST_F(Close, AContainerWhoseEditorHasEndedIsStillClearedAndDestroyed) {
    Viewer viewer = Open(ViewerMode::kQuickView);
    ASSERT_TRUE(viewer.IsOpen());
    PostMessageW(viewer.editor, WM_CLOSE, 0, 0);
    ASSERT_TRUE(viewer.WaitForEditorExit());
    ASSERT_EQ(GetWindow(viewer.container, GW_CHILD), nullptr);
    CreateKey(kViewKey);
    SetForegroundWindow(viewer.host.main);
    ASSERT_EQ(GetActiveWindow(), viewer.host.main);

    CloseRecorded(viewer);
    // Nothing is asked of an editor that is not there; the rest of the close is the same.
    EXPECT_SEQUENCE((std::vector<Entry>{
        {"UnhookWindowsHookEx", "keyboard hook"},
        {"UnhookWindowsHookEx", "mouse hook"},
        {"RegDeleteKeyW", "HKCU\\Software\\DA74\\View64"},
        {"RegDeleteKeyW", "HKCU\\Software\\DA74"},
        {"DestroyWindow", "container"},
    }));
    ExpectContainerGone(viewer);
    EXPECT_FALSE(KeyExists(kViewKey));
    EXPECT_FALSE(KeyExists(kParentKey));
    EXPECT_EQ(log_->Events("close").size(), 1u) << "only the test's own close request";
}

// Menus of another process cannot be reached under Wine: these record what the plug-in
// asks of the editor's menus when it gives the window back.
constexpr ULONG_PTR kMenuBar = 0x4D42;
HMENU WINAPI RecordGetMenu(HWND wnd) {
    Record({"GetMenu", WindowName(wnd)});
    return reinterpret_cast<HMENU>(kMenuBar);
}
HMENU WINAPI RecordGetSystemMenu(HWND wnd, BOOL revert) {
    Record({"GetSystemMenu", WindowName(wnd), static_cast<UINT>(revert)});
    return nullptr;
}
BOOL WINAPI RecordEnableMenuItem(HMENU menu, UINT item, UINT flags) {
    Record({"EnableMenuItem", menu == reinterpret_cast<HMENU>(kMenuBar) ? "menu bar" : "other menu", item, flags});
    return MF_GRAYED;
}

std::wstring TextOf(HWND wnd) {
    wchar_t text[256] = {};
    SendMessageW(wnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

// An editor that keeps its window on the close request (its user cancelled the save
// question) goes back to the desktop with the text typed into it, where the viewer was.
TEST_F(Close, AnEditorThatKeepsItsWindowIsGivenBackToTheDesktopWithItsText) {
    SetEditorMode(L"keep");
    for (ViewerMode mode : {ViewerMode::kLister, ViewerMode::kQuickView}) {
        SCOPED_TRACE(mode == ViewerMode::kLister ? "lister mode" : "quick view");
        Viewer viewer = Open(mode);
        ASSERT_TRUE(viewer.IsOpen());
        HWND edit = GetWindow(viewer.editor, GW_CHILD);
        HWND root = GetAncestor(viewer.container, GA_ROOT);
        SetWindowPos(viewer.container, nullptr, 5, 7, 300, 200, SWP_NOZORDER);
        const RECT place = WindowRectOf(viewer.container);
        SetForegroundWindow(root);
        SetFocus(edit);
        for (BYTE key : {'T', 'E', 'X', 'T'}) {
            PressKey(key);
            ReleaseKey(key);
        }
        ASSERT_TRUE(PumpUntil([&] { return TextOf(edit) == L"text"; }, 3000)) << ToUtf8(TextOf(edit));
        SetForegroundWindow(root);

        ClearRecorded();
        {
            RecordingFakes fakes(plugin_.module);
            ScopedImport menu(plugin_.module, "USER32.dll", "GetMenu", reinterpret_cast<void*>(&RecordGetMenu));
            ScopedImport systemMenu(plugin_.module, "USER32.dll", "GetSystemMenu",
                                    reinterpret_cast<void*>(&RecordGetSystemMenu));
            ScopedImport enable(plugin_.module, "USER32.dll", "EnableMenuItem",
                                reinterpret_cast<void*>(&RecordEnableMenuItem));
            const DWORD closeStart = GetTickCount();
            plugin_.listCloseWindow(viewer.container);
            EXPECT_LT(GetTickCount() - closeStart, kCloseBoundMs);
            viewer.host = HostWindows();  // the host destroys the lister window next, at once
            EXPECT_TRUE(PumpUntil([&] { return !IsWindow(viewer.container); }, 3000));
            EXPECT_LT(GetTickCount() - closeStart, 1500u) << "given back within 1.5 s of the close";
        }
        DropRepeatedGlances();
        std::vector<Entry> expected = ClosingSequence(mode == ViewerMode::kQuickView ? "host" : "lister",
                                                      mode == ViewerMode::kQuickView);
        // Given back once it has settled, from the container that left the lister with it.
        const std::vector<Entry> release = {
            {"ShowWindow", "container", SW_HIDE},
            {"GetSystemMenu", "editor", TRUE},
            {"GetMenu", "editor"},
            {"EnableMenuItem", "menu bar", 4109, MF_BYCOMMAND | MF_ENABLED},
            {"ShowWindow", "editor", SW_RESTORE},
        };
        expected.insert(expected.end() - 1, release.begin(), release.end());
        EXPECT_SEQUENCE(expected);
        PumpFor(500);

        ASSERT_TRUE(IsWindow(viewer.editor)) << "the editor lost its window";
        EXPECT_EQ(GetParent(viewer.editor), nullptr);
        EXPECT_EQ(GetAncestor(viewer.editor, GA_ROOT), viewer.editor);
        EXPECT_TRUE(IsWindowVisible(viewer.editor));
        EXPECT_FALSE(IsIconic(viewer.editor));
        const LONG_PTR style = GetWindowLongPtrW(viewer.editor, GWL_STYLE);
        EXPECT_EQ(style & WS_CHILD, 0);
        EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
        EXPECT_TRUE(SameRect(WindowRectOf(viewer.editor), place)) << "where the viewer was";
        EXPECT_EQ(TextOf(GetWindow(viewer.editor, GW_CHILD)), L"text");
        EXPECT_EQ(WaitForSingleObject(viewer.process, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_EQ(log_->Events("exit").size(), 0u);

        // The user closes it there; its second close request ends it.
        PostMessageW(viewer.editor, WM_CLOSE, 0, 0);
        EXPECT_TRUE(viewer.WaitForEditorExit());
        log_->WaitForLine("exit 0");
        DeleteFileW(log_->path().c_str());
    }
}

TEST_F(Close, RemovesExactlyTheTwoHooksThatOpeningInstalled) {
    Viewer viewer = Open(ViewerMode::kLister);
    ASSERT_TRUE(viewer.IsOpen());
    const std::vector<HHOOK> installed = InstalledHooks();
    ASSERT_EQ(installed, (std::vector<HHOOK>{viewer.keyboardHook, viewer.mouseHook}));
    ASSERT_NE(viewer.keyboardHook, nullptr);
    ASSERT_NE(viewer.mouseHook, nullptr);
    ASSERT_NE(viewer.keyboardHook, viewer.mouseHook);

    CloseRecorded(viewer);
    EXPECT_EQ(RemovedHooks(), installed);
    ExpectEditorClosedAndEnded(viewer);
}

}  // namespace
