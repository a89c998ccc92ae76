// The container window procedure, called directly message by message, on the container
// that the real ListLoadW made with the stand-in editor window embedded as its first child.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/names.h"
#include "support/captured_procs.h"
#include "support/plugin_fakes.h"
#include "support/recorder.h"

namespace {

constexpr LRESULT kDefault = 0;  // what DefWindowProcW gives for the messages used here
constexpr LRESULT kSwallowed = 1;
constexpr LPARAM kKeyData = 0x001C0001;  // repeat count 1, a scan code: never forwarded

Entry Posted(WPARAM key) { return {"PostMessageW", "editor", WM_KEYDOWN, key, 0}; }
Entry Received(WPARAM key) { return {"editor", "", WM_KEYDOWN, key, 0}; }
Entry KeyDownInjected(WPARAM key) { return {"keybd_event", "", 0, key, 0}; }
Entry KeyUpInjected(WPARAM key) { return {"keybd_event", "", KEYEVENTF_KEYUP, key, 0}; }
const Entry kEditorToFront = {"SetForegroundWindow", "editor"};
const Entry kFocusToEditor = {"SetFocus", "editor"};
const Entry kF4CommandSent = {"SendMessageTimeoutW", "editor", WM_COMMAND, kCmdF4, 0};
const Entry kGlance = {"SendMessageTimeoutW", "editor", WM_NULL, 0, 0};  // whether the editor answers
const Entry kF4CommandReceived = {"editor", "", WM_COMMAND, kCmdF4, 0};

class ContainerWindow : public CapturedProcsTest {
protected:
    ContainerWindow() : CapturedProcsTest(L"TLister", "lister") {}
    LRESULT Call(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
        LRESULT result = procs_.containerProc(wnd, message, wParam, lParam);
        PumpMessages();
        return result;
    }
    // A second container of the plug-in's class, with no editor inside.
    HWND CreateEmptyContainer() {
        HWND wnd = CreateWindowExW(0, kEditorClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, lister_, nullptr,
                                   procs_.plugin.module, nullptr);
        EXPECT_NE(wnd, nullptr);
        NameWindow(wnd, "empty container");
        return wnd;
    }
};

struct KeyRow {
    const char* name;
    WPARAM key;
    std::vector<int> held;  // down as GetKeyState reads them; GetAsyncKeyState reads every key up
    LRESULT result;
    std::vector<Entry> expected;
};

TEST_F(ContainerWindow, KeysReachingTheContainerGoOnToTheEditorAfterTheirOwnSteps) {
    const KeyRow rows[] = {
        {"Tab", VK_TAB, {}, kDefault, {Posted(VK_TAB), Received(VK_TAB)}},
        {"Ctrl+Tab", VK_TAB, {VK_CONTROL}, kDefault,
         {kGlance, kEditorToFront, kFocusToEditor, Posted(VK_TAB), Received(VK_TAB)}},
        {"Alt+Tab", VK_TAB, {VK_MENU}, kDefault, {Posted(VK_TAB), Received(VK_TAB)}},
        {"Enter", VK_RETURN, {}, kDefault, {Posted(VK_RETURN), Received(VK_RETURN)}},
        {"Ctrl+Enter", VK_RETURN, {VK_CONTROL}, kDefault, {Posted(VK_RETURN), Received(VK_RETURN)}},
        {"Alt+Enter", VK_RETURN, {VK_MENU}, kSwallowed, {}},
        {"Page Down held", VK_NEXT, {VK_NEXT}, kDefault,
         {kGlance, kEditorToFront, kFocusToEditor, KeyDownInjected(VK_NEXT), Posted(VK_NEXT), Received(VK_NEXT)}},
        {"Page Down no longer held", VK_NEXT, {}, kDefault, {Posted(VK_NEXT), Received(VK_NEXT)}},
        {"Down held", VK_DOWN, {VK_DOWN}, kDefault,
         {kGlance, kEditorToFront, kFocusToEditor, KeyDownInjected(VK_DOWN), Posted(VK_DOWN), Received(VK_DOWN)}},
        {"Down no longer held", VK_DOWN, {}, kDefault, {Posted(VK_DOWN), Received(VK_DOWN)}},
        {"Down while only Page Down is held", VK_DOWN, {VK_NEXT}, kDefault, {Posted(VK_DOWN), Received(VK_DOWN)}},
        {"W", 'W', {}, kDefault, {Posted('W'), Received('W')}},
        {"Shift+W", 'W', {VK_SHIFT}, kDefault, {Posted('W'), Received('W')}},
        {"Ctrl+W", 'W', {VK_CONTROL}, kSwallowed, {}},
        {"Alt+W", 'W', {VK_MENU}, kSwallowed, {}},
        {"Ctrl+Alt+W", 'W', {VK_CONTROL, VK_MENU}, kSwallowed, {}},
        {"F4", VK_F4, {VK_F4}, kSwallowed, {kF4CommandSent, kF4CommandReceived}},
        {"Alt+F4", VK_F4, {VK_F4, VK_MENU}, kSwallowed, {kF4CommandSent, kF4CommandReceived}},
        {"Ctrl+F4", VK_F4, {VK_F4, VK_CONTROL}, kSwallowed, {}},
        {"F4 no longer held", VK_F4, {}, kSwallowed, {}},
        {"Page Up held, with every modifier", VK_PRIOR, {VK_PRIOR, VK_CONTROL, VK_MENU, VK_SHIFT}, kDefault,
         {Posted(VK_PRIOR), Received(VK_PRIOR)}},
        {"Up held, with every modifier", VK_UP, {VK_UP, VK_CONTROL, VK_MENU, VK_SHIFT}, kDefault,
         {Posted(VK_UP), Received(VK_UP)}},
        {"A, with every modifier", 'A', {'A', VK_CONTROL, VK_MENU, VK_SHIFT}, kDefault, {Posted('A'), Received('A')}},
        {"Escape", VK_ESCAPE, {VK_ESCAPE}, kDefault, {Posted(VK_ESCAPE), Received(VK_ESCAPE)}},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptKeys(row.held, {});
        ScriptFocus(nullptr);
        ClearRecorded();
        EXPECT_EQ(Call(procs_.container, WM_KEYDOWN, row.key, kKeyData), row.result);
        EXPECT_SEQUENCE(row.expected);
    }
}

// The key state that counts is the thread's, as of the message: a key that is physically
// down but was not down for this message changes nothing.
TEST_F(ContainerWindow, ModifiersAreReadAsOfTheMessageNotPhysically) {
    const KeyRow rows[] = {
        {"Tab, Ctrl physically down", VK_TAB, {VK_CONTROL}, kDefault, {Posted(VK_TAB), Received(VK_TAB)}},
        {"Enter, Alt physically down", VK_RETURN, {VK_MENU}, kDefault, {Posted(VK_RETURN), Received(VK_RETURN)}},
        {"W, Ctrl physically down", 'W', {VK_CONTROL}, kDefault, {Posted('W'), Received('W')}},
        {"Page Down physically down", VK_NEXT, {VK_NEXT}, kDefault, {Posted(VK_NEXT), Received(VK_NEXT)}},
        {"F4 physically down", VK_F4, {VK_F4}, kSwallowed, {}},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptKeys({}, row.held);
        ClearRecorded();
        EXPECT_EQ(Call(procs_.container, WM_KEYDOWN, row.key, kKeyData), row.result);
        EXPECT_SEQUENCE(row.expected);
    }
}

TEST_F(ContainerWindow, AForwardedKeyCarriesLParamZeroWhateverCameWithIt) {
    const LPARAM keyData[] = {0, 0x00010001, 0x001C0005, 0x401C7FFF, static_cast<LPARAM>(0xC11C0001u), -1};
    for (LPARAM lParam : keyData) {
        SCOPED_TRACE(lParam);
        ScriptKeys({VK_NEXT}, {});
        ClearRecorded();
        EXPECT_EQ(Call(procs_.container, WM_KEYDOWN, VK_NEXT, lParam), kDefault);
        EXPECT_SEQUENCE(std::vector<Entry>(
            {kGlance, kEditorToFront, kFocusToEditor, KeyDownInjected(VK_NEXT), Posted(VK_NEXT), Received(VK_NEXT)}));
    }
}

TEST_F(ContainerWindow, OnlyKeyDownMessagesAreActedOn) {
    ScriptKeys({VK_F4, VK_NEXT, VK_CONTROL}, {});
    EXPECT_EQ(Call(procs_.container, WM_KEYUP, VK_F4, 0xC0000001), kDefault);
    EXPECT_EQ(Call(procs_.container, WM_KEYUP, VK_NEXT, 0xC0000001), kDefault);
    EXPECT_EQ(Call(procs_.container, WM_SYSKEYDOWN, 'W', 0), kDefault);
    EXPECT_EQ(Call(procs_.container, WM_CHAR, L'w', 1), kDefault);
    EXPECT_SEQUENCE(std::vector<Entry>{});
}

// Without an editor inside there is nobody to send, post or hand the focus to: the null
// first child must not turn into a post to this thread's queue or a focus taken away.
TEST_F(ContainerWindow, KeysWithNoEditorInsideTouchNoOtherWindow) {
    HWND empty = CreateEmptyContainer();
    ASSERT_EQ(GetWindow(empty, GW_CHILD), nullptr);
    const KeyRow rows[] = {
        {"Tab", VK_TAB, {}, kDefault, {}},
        {"Ctrl+Tab", VK_TAB, {VK_CONTROL}, kDefault, {}},
        {"Enter", VK_RETURN, {}, kDefault, {}},
        {"Alt+Enter", VK_RETURN, {VK_MENU}, kSwallowed, {}},
        {"Page Down held", VK_NEXT, {VK_NEXT}, kDefault, {}},
        {"Down held", VK_DOWN, {VK_DOWN}, kDefault, {}},
        {"W", 'W', {}, kDefault, {}},
        {"Ctrl+W", 'W', {VK_CONTROL}, kSwallowed, {}},
        {"Alt+W", 'W', {VK_MENU}, kSwallowed, {}},
        {"F4", VK_F4, {VK_F4}, kSwallowed, {}},
        {"A", 'A', {'A'}, kDefault, {}},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptKeys(row.held, {});
        ScriptFocus(lister_);
        ClearRecorded();
        EXPECT_EQ(procs_.containerProc(empty, WM_KEYDOWN, row.key, kKeyData), row.result);
        MSG threadMessage;
        EXPECT_FALSE(PeekMessageW(&threadMessage, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
            << "a message was posted to the thread";
        PumpMessages();
        EXPECT_SEQUENCE(row.expected);
        EXPECT_EQ(ScriptedFocus(), lister_);
    }
    DestroyWindow(empty);
}

struct ArrowRow {
    const char* name;
    std::vector<std::pair<int, std::vector<SHORT>>> reads;  // GetAsyncKeyState results per key, then up
    std::vector<Entry> expected;
};

const SHORT kHeld = static_cast<SHORT>(0x8000);
const SHORT kPressedSinceLastQuery = 1;

const ArrowRow kArrowRows[] = {
    {"no arrow key held", {}, {}},
    {"Down held for three queries",
     {{VK_DOWN, {kHeld, kHeld, kHeld}}},
     {KeyUpInjected(VK_DOWN), KeyUpInjected(VK_DOWN), KeyUpInjected(VK_DOWN)}},
    {"Up only pressed since the last query", {{VK_UP, {kPressedSinceLastQuery}}}, {KeyUpInjected(VK_UP)}},
    {"Left held and pressed", {{VK_LEFT, {static_cast<SHORT>(0x8001)}}}, {KeyUpInjected(VK_LEFT)}},
    {"all four, given in reverse", {{VK_RIGHT, {kHeld}}, {VK_LEFT, {kHeld}}, {VK_DOWN, {kHeld}}, {VK_UP, {kHeld}}},
     {KeyUpInjected(VK_UP), KeyUpInjected(VK_DOWN), KeyUpInjected(VK_LEFT), KeyUpInjected(VK_RIGHT)}},
    {"a key is not looked at again once it read up", {{VK_UP, {kHeld, 0, kHeld, kHeld}}}, {KeyUpInjected(VK_UP)}},
    {"other keys held", {{VK_NEXT, {kHeld}}, {VK_CONTROL, {kHeld}}, {VK_ESCAPE, {kHeld}}}, {}},
    // Another program's low-level hook swallows the key-ups: the key keeps reading as down.
    {"Down that no key-up releases, then Left held",
     {{VK_DOWN, std::vector<SHORT>(100, kHeld)}, {VK_LEFT, {kHeld}}},
     {KeyUpInjected(VK_DOWN), KeyUpInjected(VK_DOWN), KeyUpInjected(VK_DOWN), KeyUpInjected(VK_DOWN),
      KeyUpInjected(VK_DOWN), KeyUpInjected(VK_DOWN), KeyUpInjected(VK_DOWN), KeyUpInjected(VK_DOWN),
      KeyUpInjected(VK_LEFT)}},
};

void ScriptArrowRow(const ArrowRow& row) {
    ScriptKeys({}, {});
    for (const auto& [key, reads] : row.reads)
        ScriptAsyncReads(key, reads);
}

// A launch releases them before it creates its container; here the editor file cannot run,
// and the launch ends there.
TEST_F(ContainerWindow, ALaunchBeginsByReleasingArrowKeysStillHeld) {
    std::wstring viewed = procs_.plugin.directory + L"viewed.txt";
    for (const ArrowRow& row : kArrowRows) {
        SCOPED_TRACE(row.name);
        ScriptArrowRow(row);
        ClearRecorded();
        EXPECT_EQ(procs_.plugin.listLoadW(lister_, viewed.data(), 0), nullptr);
        PumpMessages();
        EXPECT_SEQUENCE(row.expected);
    }
}

TEST_F(ContainerWindow, SizeMakesTheEditorFillTheClientAreaWhateverLParamSays) {
    SetWindowPos(procs_.container, nullptr, 0, 0, 320, 240, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(procs_.editor, nullptr, 7, 9, 20, 30, SWP_NOZORDER | SWP_NOACTIVATE);
    ClearRecorded();
    EXPECT_EQ(Call(procs_.container, WM_SIZE, SIZE_RESTORED, MAKELPARAM(1, 1)), kDefault);
    RECT editor;
    GetWindowRect(procs_.editor, &editor);
    MapWindowPoints(nullptr, procs_.container, reinterpret_cast<POINT*>(&editor), 2);
    RECT client;
    GetClientRect(procs_.container, &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 240);
    EXPECT_EQ(editor.left, client.left);
    EXPECT_EQ(editor.top, client.top);
    EXPECT_EQ(editor.right, client.right);
    EXPECT_EQ(editor.bottom, client.bottom);
    EXPECT_SEQUENCE(std::vector<Entry>{kGlance});

    // Without an editor there is nothing to fit, and nothing else is done instead.
    HWND empty = CreateEmptyContainer();
    ClearRecorded();
    EXPECT_EQ(Call(empty, WM_SIZE, SIZE_RESTORED, MAKELPARAM(50, 50)), kDefault);
    EXPECT_SEQUENCE(std::vector<Entry>{});
    DestroyWindow(empty);
}

// A dialog of the platform's class, owned by owner, that records what it receives.
HWND CreateDialogOwnedBy(HWND owner, const std::string& name, bool visible = true) {
    HWND dialog = CreateWindowExW(0, L"#32770", L"Velnote", WS_POPUP | WS_CAPTION | (visible ? WS_VISIBLE : 0), 0, 0,
                                  100, 80, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(dialog, nullptr);
    RecordWindowMessages(dialog, name);
    return dialog;
}

// The editor here is a window of this process, so the test's dialogs are of the editor's
// process; the system makes the top-level window above the container (the lister) the
// owner of an embedded editor's dialogs.
TEST_F(ContainerWindow, FocusGoesOnToAnOpenDialogOfTheEmbeddedEditor) {
    ASSERT_EQ(FindWindowW(L"#32770", nullptr), nullptr) << "a dialog is open before the test made one";
    ScriptFocus(procs_.container);
    EXPECT_EQ(Call(procs_.container, WM_SETFOCUS, 0, 0), kDefault) << "no dialog";
    EXPECT_SEQUENCE(std::vector<Entry>{});

    HWND otherEditor = CreateRecordedWindow(kEditorClass, L"Other", WS_OVERLAPPEDWINDOW, nullptr, "other editor");
    struct Owned {
        HWND owner;
        bool visible;
    };
    struct Row {
        const char* name;
        std::vector<Owned> dialogs;  // top of the Z order first, named "dialog 0", "dialog 1"
        std::vector<Entry> expected;
    };
    const Row rows[] = {
        {"owned by the lister, the top-level window above", {{lister_, true}}, {kGlance, FocusTo("dialog 0")}},
        {"owned by the editor main window", {{procs_.editor, true}}, {kGlance, FocusTo("dialog 0")}},
        {"owned by another window of class Velnote4", {{otherEditor, true}}, {}},
        {"no owner", {{nullptr, true}}, {}},
        {"hidden, owned by the lister", {{lister_, false}}, {}},
        {"another dialog in front of it", {{otherEditor, true}, {lister_, true}}, {kGlance, FocusTo("dialog 1")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<HWND> dialogs;
        for (size_t i = 0; i < row.dialogs.size(); ++i)
            dialogs.push_back(
                CreateDialogOwnedBy(row.dialogs[i].owner, "dialog " + std::to_string(i), row.dialogs[i].visible));
        for (auto dialog = dialogs.rbegin(); dialog != dialogs.rend(); ++dialog)
            SetWindowPos(*dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        ASSERT_EQ(FindWindowW(L"#32770", nullptr), dialogs.front());
        ScriptFocus(procs_.container);
        ClearRecorded();
        EXPECT_EQ(Call(procs_.container, WM_SETFOCUS, 0, 0), 0);
        EXPECT_SEQUENCE(row.expected);
        for (HWND dialog : dialogs)
            DestroyWindow(dialog);
    }

    // A container with no editor inside has no dialog to hand the focus to.
    HWND empty = CreateEmptyContainer();
    HWND dialog = CreateDialogOwnedBy(lister_, "dialog");
    ClearRecorded();
    EXPECT_EQ(Call(empty, WM_SETFOCUS, 0, 0), kDefault);
    EXPECT_SEQUENCE(std::vector<Entry>{});
    DestroyWindow(dialog);
    DestroyWindow(empty);
    DestroyWindow(otherEditor);
}

}  // namespace
