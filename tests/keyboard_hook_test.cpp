// The keyboard hook procedure, called directly call by call, as the editor's GUI thread
// would call it, with the window arrangement and key state each case needs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/names.h"
#include "support/arrangements.h"
#include "support/captured_procs.h"
#include "support/plugin_fakes.h"
#include "support/recorder.h"

namespace {

constexpr LPARAM kKeyData = 0x00010001;  // repeat count 1: only ever handed to the next hook
constexpr LRESULT kSwallowed = 1;

Entry PassedOn(WPARAM key, int code = HC_ACTION) {
    return {"CallNextHookEx", "", static_cast<UINT>(code), key, kKeyData};
}
Entry KeyInjected(WPARAM key) { return {"keybd_event", "", 0, key, 0}; }
const Entry kF4Command = {"SendMessageW", "editor", WM_COMMAND, kCmdF4, 0};
const Entry kF4CommandReceived = {"editor", "", WM_COMMAND, kCmdF4, 0};

const ArrangementPlan kQuickView = {HostKind::kTotalCommander};
const ArrangementPlan kQuickViewFreeCommander = {HostKind::kFreeCommander};
const ArrangementPlan kDialogListerModeFreeCommander = {HostKind::kNone, HostKind::kFreeCommander, true};
const ArrangementPlan kDialogListerModeNoHost = {HostKind::kNone, HostKind::kNone, true};

struct KeyCase {
    const char* name;
    ArrangementPlan arrangement;
    WPARAM key;
    std::vector<int> thread;    // down for GetKeyState
    std::vector<int> physical;  // down for GetAsyncKeyState
    LRESULT result;             // kPassedOn or kSwallowed
    std::vector<Entry> expected;
    int code = HC_ACTION;
};

class KeyboardHook : public CapturedProcsTest {
protected:
    // Not "TLister": the arrangements bring their own lister window.
    KeyboardHook() : CapturedProcsTest(L"VelnoteCaptureLister", "capture") {}
    LRESULT CallHook(int code, WPARAM key) {
        LRESULT result = procs_.keyboardHook(code, key, kKeyData);
        PumpMessages();
        return result;
    }
    void RunCases(const std::vector<KeyCase>& cases) {
        for (const KeyCase& c : cases) {
            SCOPED_TRACE(c.name);
            auto arrangement = Arrange(c.arrangement);
            ScriptKeys(c.thread, c.physical);
            EXPECT_EQ(CallHook(c.code, c.key), c.result);
            EXPECT_SEQUENCE(c.expected);
        }
    }
};

TEST_F(KeyboardHook, F4IsAlwaysSwallowedAndWithoutCtrlBecomesTheEditorCommand) {
    RunCases({
        {"F4", kListerMode, VK_F4, {VK_F4}, {}, kSwallowed, {kF4Command, kF4CommandReceived}},
        {"Alt+F4", kListerMode, VK_F4, {VK_F4, VK_MENU}, {}, kSwallowed, {kF4Command, kF4CommandReceived}},
        {"Shift+F4 in quick view", kQuickView, VK_F4, {VK_F4, VK_SHIFT}, {}, kSwallowed,
         {kF4Command, kF4CommandReceived}},
        {"Ctrl+F4", kListerMode, VK_F4, {VK_F4, VK_CONTROL}, {}, kSwallowed, {}},
        {"F4 released", kListerMode, VK_F4, {}, {}, kSwallowed, {}},
        {"F4 only physically down", kListerMode, VK_F4, {}, {VK_F4}, kSwallowed, {}},
        {"F4, Ctrl only physically down", kListerMode, VK_F4, {VK_F4}, {VK_CONTROL}, kSwallowed,
         {kF4Command, kF4CommandReceived}},
    });
}

TEST_F(KeyboardHook, CtrlTabMovesToTheFirstChildOfTheTopLevelWindow) {
    RunCases({
        {"Ctrl+Tab, lister mode", kListerMode, VK_TAB, {VK_CONTROL}, {}, kPassedOn,
         {ToFront("container"), FocusTo("container"), PassedOn(VK_TAB)}},
        {"Ctrl+Tab, quick view", kQuickView, VK_TAB, {VK_CONTROL}, {}, kPassedOn,
         {ToFront("lister"), FocusTo("lister"), PassedOn(VK_TAB)}},
        {"Tab", kListerMode, VK_TAB, {}, {}, kPassedOn, {PassedOn(VK_TAB)}},
        {"Tab, Ctrl only physically down", kListerMode, VK_TAB, {}, {VK_CONTROL}, kPassedOn, {PassedOn(VK_TAB)}},
    });
}

TEST_F(KeyboardHook, CtrlWAltWAndAltEnterAreSwallowed) {
    RunCases({
        {"Ctrl+W", kListerMode, 'W', {VK_CONTROL}, {}, kSwallowed, {}},
        {"Alt+W", kListerMode, 'W', {VK_MENU}, {}, kSwallowed, {}},
        {"Alt+Enter", kListerMode, VK_RETURN, {VK_MENU}, {}, kSwallowed, {}},
        {"Alt+Enter in an editor dialog", kDialogListerMode, VK_RETURN, {VK_MENU}, {VK_RETURN}, kSwallowed, {}},
        {"W", kListerMode, 'W', {}, {}, kPassedOn, {PassedOn('W')}},
        {"W, Ctrl and Alt only physically down", kListerMode, 'W', {}, {VK_CONTROL, VK_MENU}, kPassedOn,
         {PassedOn('W')}},
        {"Enter", kListerMode, VK_RETURN, {}, {VK_RETURN}, kPassedOn, {PassedOn(VK_RETURN)}},
    });
}

TEST_F(KeyboardHook, EscapeClosesAStandAloneListerAndIsDroppedUnderAHostMainWindow) {
    RunCases({
        {"Esc, lister mode", kListerMode, VK_ESCAPE, {}, {VK_ESCAPE}, kPassedOn,
         {Posted("lister", WM_CLOSE), PassedOn(VK_ESCAPE), Received("lister", WM_CLOSE)}},
        {"Esc, quick view", kQuickView, VK_ESCAPE, {}, {VK_ESCAPE}, kSwallowed, {}},
        {"Esc, quick view under the other host", kQuickViewFreeCommander, VK_ESCAPE, {}, {VK_ESCAPE}, kSwallowed, {}},
        {"Esc in an editor dialog", kDialogListerMode, VK_ESCAPE, {}, {VK_ESCAPE}, kPassedOn,
         {kClickDown, kClickUp, PassedOn(VK_ESCAPE)}},
        {"Esc released before the call, lister mode", kListerMode, VK_ESCAPE, {VK_ESCAPE}, {}, kPassedOn,
         {PassedOn(VK_ESCAPE)}},
        {"Esc released before the call, quick view", kQuickView, VK_ESCAPE, {VK_ESCAPE}, {}, kPassedOn,
         {PassedOn(VK_ESCAPE)}},
        {"Esc released before the call, dialog", kDialogListerMode, VK_ESCAPE, {VK_ESCAPE}, {}, kPassedOn,
         {PassedOn(VK_ESCAPE)}},
        // W and Enter end in the same step.
        {"W with Esc held, lister mode", kListerMode, 'W', {}, {VK_ESCAPE}, kPassedOn,
         {Posted("lister", WM_CLOSE), PassedOn('W'), Received("lister", WM_CLOSE)}},
        {"Enter with Esc held, quick view", kQuickView, VK_RETURN, {}, {VK_ESCAPE, VK_RETURN}, kSwallowed, {}},
    });
}

TEST_F(KeyboardHook, EnterOnControl2OfAnEditorDialogDismissesIt) {
    const std::vector<Entry> listerBranch = {
        kClickDown, kClickUp, Sent("dialog", WM_CLOSE), Received("dialog", WM_CLOSE), Posted("lister", WM_CLOSE),
        ToFront("tc"), FocusTo("tc")};
    auto then = [](std::vector<Entry> entries, std::initializer_list<Entry> more) {
        entries.insert(entries.end(), more);
        return entries;
    };
    RunCases({
        {"lister mode", kDialogListerMode, VK_RETURN, {}, {VK_RETURN}, kPassedOn,
         then(listerBranch, {PassedOn(VK_RETURN), Received("lister", WM_CLOSE)})},
        // The host main window is the focus root now: the Esc step drops the key.
        {"lister mode, Esc held", kDialogListerMode, VK_RETURN, {}, {VK_RETURN, VK_ESCAPE}, kSwallowed,
         then(listerBranch, {Received("lister", WM_CLOSE)})},
        {"lister mode, W", kDialogListerMode, 'W', {}, {VK_RETURN}, kPassedOn,
         then(listerBranch, {PassedOn('W'), Received("lister", WM_CLOSE)})},
        {"lister mode, only the other host runs", kDialogListerModeFreeCommander, VK_RETURN, {}, {VK_RETURN}, kPassedOn,
         {kClickDown, kClickUp, Sent("dialog", WM_CLOSE), Received("dialog", WM_CLOSE), Posted("lister", WM_CLOSE),
          ToFront("fc"), FocusTo("fc"), PassedOn(VK_RETURN), Received("lister", WM_CLOSE)}},
        {"lister mode, no host runs", kDialogListerModeNoHost, VK_RETURN, {}, {VK_RETURN}, kPassedOn,
         {kClickDown, kClickUp, Sent("dialog", WM_CLOSE), Received("dialog", WM_CLOSE), Posted("lister", WM_CLOSE),
          ToFront("null"), FocusTo("null"), PassedOn(VK_RETURN), Received("lister", WM_CLOSE)}},
        {"quick view", kDialogQuickView, VK_RETURN, {}, {VK_RETURN}, kPassedOn,
         {kClickDown, kClickUp, Posted("dialog", WM_CLOSE), ToFront("host"), FocusTo("host"), PassedOn(VK_RETURN),
          Received("dialog", WM_CLOSE)}},
        {"quick view under the other host", kDialogQuickViewFreeCommander, VK_RETURN, {}, {VK_RETURN}, kPassedOn,
         {kClickDown, kClickUp, Posted("dialog", WM_CLOSE), ToFront("host"), FocusTo("host"), PassedOn(VK_RETURN),
          Received("dialog", WM_CLOSE)}},
        // The focus root stays the dialog in quick view: the Esc step clicks once more.
        {"quick view, Esc held", kDialogQuickView, VK_RETURN, {}, {VK_RETURN, VK_ESCAPE}, kPassedOn,
         {kClickDown, kClickUp, Posted("dialog", WM_CLOSE), ToFront("host"), FocusTo("host"), kClickDown, kClickUp,
          PassedOn(VK_RETURN), Received("dialog", WM_CLOSE)}},
    });
}

TEST_F(KeyboardHook, EnterElsewhereInAnEditorDialogOnlyClicks) {
    RunCases({
        {"control 1, lister mode", DialogWith(kDialogListerMode, L"#32770", L"Velnote", 1), VK_RETURN, {}, {VK_RETURN},
         kPassedOn, {kClickDown, kClickUp, PassedOn(VK_RETURN)}},
        {"control 3, quick view", DialogWith(kDialogQuickView, L"#32770", L"Velnote", 3), VK_RETURN, {}, {VK_RETURN},
         kPassedOn, {kClickDown, kClickUp, PassedOn(VK_RETURN)}},
        {"control 1, Esc held", DialogWith(kDialogListerMode, L"#32770", L"Velnote", 1), VK_RETURN, {},
         {VK_RETURN, VK_ESCAPE}, kPassedOn, {kClickDown, kClickUp, kClickDown, kClickUp, PassedOn(VK_RETURN)}},
    });
}

TEST_F(KeyboardHook, OnlyAPhysicallyHeldEnterInADialogTitledExactlyVelnoteCounts) {
    RunCases({
        {"Enter not physically down", kDialogListerMode, VK_RETURN, {VK_RETURN}, {}, kPassedOn, {PassedOn(VK_RETURN)}},
        {"title with a trailing blank", DialogWith(kDialogListerMode, L"#32770", L"Velnote ", 2), VK_RETURN, {},
         {VK_RETURN}, kPassedOn, {PassedOn(VK_RETURN)}},
        {"title in other letter case", DialogWith(kDialogQuickView, L"#32770", L"velnote", 2), VK_RETURN, {},
         {VK_RETURN}, kPassedOn, {PassedOn(VK_RETURN)}},
        {"title cut short", DialogWith(kDialogListerMode, L"#32770", L"Velnot", 2), VK_RETURN, {}, {VK_RETURN},
         kPassedOn, {PassedOn(VK_RETURN)}},
        {"class with a trailing blank", DialogWith(kDialogListerMode, L"#32770 ", L"Velnote", 2), VK_RETURN, {},
         {VK_RETURN}, kPassedOn, {PassedOn(VK_RETURN)}},
        {"class cut short", DialogWith(kDialogListerMode, L"#3277", L"Velnote", 2), VK_RETURN, {}, {VK_RETURN},
         kPassedOn, {PassedOn(VK_RETURN)}},
        {"no dialog", kListerMode, VK_RETURN, {}, {VK_RETURN}, kPassedOn, {PassedOn(VK_RETURN)}},
    });
}

TEST_F(KeyboardHook, OtherHookCodesPassOnAndDoNothingElse) {
    for (int code : {HC_NOREMOVE, 1, -1}) {
        RunCases({
            {"F4", kListerMode, VK_F4, {VK_F4}, {VK_F4}, kPassedOn, {PassedOn(VK_F4, code)}, code},
            {"Esc, lister mode", kListerMode, VK_ESCAPE, {}, {VK_ESCAPE}, kPassedOn, {PassedOn(VK_ESCAPE, code)}, code},
            {"Esc, quick view", kQuickView, VK_ESCAPE, {}, {VK_ESCAPE}, kPassedOn, {PassedOn(VK_ESCAPE, code)}, code},
            {"Ctrl+W", kListerMode, 'W', {VK_CONTROL}, {}, kPassedOn, {PassedOn('W', code)}, code},
            {"Ctrl+Tab", kListerMode, VK_TAB, {VK_CONTROL}, {}, kPassedOn, {PassedOn(VK_TAB, code)}, code},
            {"Enter in an editor dialog", kDialogListerMode, VK_RETURN, {}, {VK_RETURN}, kPassedOn,
             {PassedOn(VK_RETURN, code)}, code},
        });
    }
}

// The key hand-over needs a focus window of one of the host's classes; the top-level
// window above it is a host main window with a menu bar.
class KeyHandOver : public KeyboardHook {
protected:
    struct Windows {
        HWND root = nullptr;
        HWND focus = nullptr;
        ~Windows() { DestroyWindow(root); }
    };
    std::unique_ptr<Windows> ArrangeHandOver(const wchar_t* focusClass, int menuItems,
                                             const wchar_t* rootClass = L"TTOTAL_CMD") {
        auto windows = std::make_unique<Windows>();
        windows->root = CreateWindowWithMenu(rootClass, menuItems, "host");
        windows->focus = CreateRecordedWindow(focusClass, L"", WS_CHILD | WS_VISIBLE, windows->root, "focus");
        ScriptFocus(windows->focus);
        ScriptActiveWindow(windows->root);
        ClearRecorded();
        return windows;
    }
};

TEST_F(KeyHandOver, DigitsGoToTheTopLevelWindowFromTheHostsFocusClasses) {
    struct Row {
        const wchar_t* focusClass;
        bool handedOver;
    };
    const Row rows[] = {
        {L"Window", true}, {L"TLister", true}, {L"TfcViewerForm", true},
        {L"Velnote4", false}, {L"Window ", false}, {L"TListerX", false}, {L"TfcViewerFor", false},
    };
    for (const Row& row : rows) {
        for (WPARAM digit : {'1', '5', '8'}) {
            SCOPED_TRACE(std::string(row.focusClass, row.focusClass + wcslen(row.focusClass)) + " " +
                         static_cast<char>(digit));
            auto windows = ArrangeHandOver(row.focusClass, -1);
            ScriptKeys({}, {});
            EXPECT_EQ(CallHook(HC_ACTION, digit), kPassedOn);
            if (row.handedOver)
                EXPECT_SEQUENCE(std::vector<Entry>({ToFront("host"), FocusTo("host"), KeyInjected(digit),
                                                    PassedOn(digit)}));
            else
                EXPECT_SEQUENCE(std::vector<Entry>({PassedOn(digit)}));
        }
    }
}

TEST_F(KeyHandOver, NAndPNeedTheKeyDownAndMoreThanSevenMenuItems) {
    struct Row {
        const char* name;
        WPARAM key;
        int menuItems;
        std::vector<int> thread;
        std::vector<int> physical;
        bool handedOver;
    };
    const Row rows[] = {
        {"N, 8 items", 'N', 8, {'N'}, {}, true},
        {"P, 9 items", 'P', 9, {'P'}, {}, true},
        {"N, 7 items", 'N', 7, {'N'}, {'N'}, false},
        {"P, 7 items", 'P', 7, {'P'}, {'P'}, false},
        {"N, no menu", 'N', -1, {'N'}, {'N'}, false},
        {"N, 8 items, key up", 'N', 8, {}, {}, false},
        {"N, 8 items, key only physically down", 'N', 8, {}, {'N'}, false},
        {"P, 8 items, only N down", 'P', 8, {'N'}, {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto windows = ArrangeHandOver(L"TLister", row.menuItems);
        ScriptKeys(row.thread, row.physical);
        EXPECT_EQ(CallHook(HC_ACTION, row.key), kPassedOn);
        if (row.handedOver)
            EXPECT_SEQUENCE(std::vector<Entry>({ToFront("host"), FocusTo("host"), KeyInjected(row.key),
                                                PassedOn(row.key)}));
        else
            EXPECT_SEQUENCE(std::vector<Entry>({PassedOn(row.key)}));
    }
    auto windows = ArrangeHandOver(L"Velnote4", 8);
    ScriptKeys({'N'}, {});
    EXPECT_EQ(CallHook(HC_ACTION, 'N'), kPassedOn);
    EXPECT_SEQUENCE(std::vector<Entry>({PassedOn('N')}));
}

TEST_F(KeyHandOver, KeysOutsideTheTableOnlyPassOn) {
    const std::vector<int> everything = {VK_CONTROL, VK_MENU, VK_SHIFT, VK_ESCAPE, VK_RETURN, VK_F4, 'N', 'P'};
    for (WPARAM key : {WPARAM{0}, WPARAM{8}, WPARAM{VK_SPACE}, WPARAM{'0'}, WPARAM{'9'}, WPARAM{'A'}, WPARAM{'M'},
                       WPARAM{'O'}, WPARAM{'Q'}, WPARAM{'V'}, WPARAM{'X'}, WPARAM{VK_F3}, WPARAM{VK_F5}, WPARAM{0x131},
                       WPARAM{0xFF}}) {
        SCOPED_TRACE(key);
        auto windows = ArrangeHandOver(L"TLister", 8);
        ScriptKeys(everything, everything);
        EXPECT_EQ(CallHook(HC_ACTION, key), kPassedOn);
        EXPECT_SEQUENCE(std::vector<Entry>({PassedOn(key)}));
    }
}

// The hand-over's own key goes to whatever has the focus after the move. Were that again
// a hand-over window of this thread, the key would come back to the hook, without end.
TEST_F(KeyHandOver, ItsOwnKeyIsNotInjectedWhenItWouldComeBackToTheHook) {
    for (const wchar_t* rootClass : {L"Window", L"TLister", L"TfcViewerForm"}) {
        SCOPED_TRACE(std::string(rootClass, rootClass + wcslen(rootClass)));
        auto windows = ArrangeHandOver(L"TLister", 8, rootClass);
        ScriptKeys({'N'}, {});
        EXPECT_EQ(CallHook(HC_ACTION, '3'), kPassedOn);
        EXPECT_EQ(ScriptedFocus(), windows->root);
        ScriptFocus(windows->focus);
        EXPECT_EQ(CallHook(HC_ACTION, 'N'), kPassedOn);
        EXPECT_SEQUENCE(std::vector<Entry>({ToFront("host"), FocusTo("host"), PassedOn('3'), ToFront("host"),
                                            FocusTo("host"), PassedOn('N')}));
    }
}

// The same top-level window owned by another thread does not bring the key back here.
TEST_F(KeyHandOver, ItsOwnKeyIsInjectedForAHandOverWindowOfAnotherThread) {
    DestroyWindow(CreateRecordedWindow(L"Window", L"", WS_OVERLAPPEDWINDOW, nullptr, "class registration"));
    HWND root = nullptr;
    DWORD threadId = 0;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([&] {
        threadId = GetCurrentThreadId();
        root = CreateWindowExW(0, L"Window", L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        SetEvent(ready);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        DestroyWindow(root);
    });
    WaitForSingleObject(ready, 5000);
    CloseHandle(ready);
    ASSERT_NE(root, nullptr);
    NameWindow(root, "other thread");
    HWND focus = CreateRecordedWindow(L"TLister", L"", WS_CHILD | WS_VISIBLE, root, "focus");
    ScriptFocus(focus);
    ScriptKeys({}, {});
    ClearRecorded();
    EXPECT_EQ(procs_.keyboardHook(HC_ACTION, '2', kKeyData), kPassedOn);
    EXPECT_SEQUENCE(std::vector<Entry>({ToFront("other thread"), FocusTo("other thread"), KeyInjected('2'),
                                        PassedOn('2')}));
    DestroyWindow(focus);
    PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    owner.join();
}

}  // namespace
