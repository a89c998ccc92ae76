// The mouse hook procedure, called directly call by call, as the editor's GUI thread
// would call it, with the window arrangement each case needs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/names.h"
#include "support/arrangements.h"
#include "support/captured_procs.h"
#include "support/plugin_fakes.h"
#include "support/recorder.h"

namespace {

MOUSEHOOKSTRUCT gHookData;  // one address, so that the expected pass-on can name it

Entry PassedOn(UINT message, int code = HC_ACTION) {
    return {"CallNextHookEx", "", static_cast<UINT>(code), message, reinterpret_cast<LPARAM>(&gHookData)};
}

enum class Target { kControl, kEdit, kContainer, kComboEdit };

struct MouseCase {
    const char* name;
    ArrangementPlan arrangement;
    Target target;
    std::vector<Entry> expected;
    UINT message = WM_LBUTTONUP;
    int code = HC_ACTION;
    ULONG_PTR extraInfo = 0;
    std::vector<int> physical = {};  // down for GetAsyncKeyState
    std::vector<int> thread = {};    // down for GetKeyState
    bool swapped = false;            // the user has swapped the mouse buttons
};

// Swaps the buttons for real, and always swaps them back.
class SwappedButtons {
public:
    explicit SwappedButtons(bool swap) : swap_(swap) {
        if (swap_)
            SwapMouseButton(TRUE);
    }
    ~SwappedButtons() {
        if (swap_)
            SwapMouseButton(FALSE);
    }
    SwappedButtons(const SwappedButtons&) = delete;
    SwappedButtons& operator=(const SwappedButtons&) = delete;

private:
    bool swap_;
};

const std::vector<Entry> kQuickViewDismissal = {
    kClickDown, kClickUp, Posted("dialog", WM_CLOSE), ToFront("host"), FocusTo("host"), PassedOn(WM_LBUTTONUP),
    Received("dialog", WM_CLOSE)};
const std::vector<Entry> kListerDismissal = {
    kClickDown, kClickUp, Sent("dialog", WM_CLOSE), Received("dialog", WM_CLOSE), Posted("lister", WM_CLOSE),
    ToFront("tc"), FocusTo("tc"), PassedOn(WM_LBUTTONUP), Received("lister", WM_CLOSE)};
const std::vector<Entry> kClickOnly = {kClickDown, kClickUp, PassedOn(WM_LBUTTONUP)};
const std::vector<Entry> kNothing = {PassedOn(WM_LBUTTONUP)};

// With swapped buttons the primary button, the one to click, is the physical right one.
const Entry kSwappedClickDown = {"mouse_event", "", MOUSEEVENTF_RIGHTDOWN, 0, static_cast<LPARAM>(kSyntheticClickMark)};
const Entry kSwappedClickUp = {"mouse_event", "", MOUSEEVENTF_RIGHTUP, 0, static_cast<LPARAM>(kSyntheticClickMark)};
std::vector<Entry> WithSwappedClick(std::vector<Entry> entries) {
    entries[0] = kSwappedClickDown;
    entries[1] = kSwappedClickUp;
    return entries;
}

class MouseHook : public CapturedProcsTest {
protected:
    // Not "TLister": the arrangements bring their own lister window.
    MouseHook() : CapturedProcsTest(L"VelnoteCaptureLister", "capture") {}
    LRESULT CallHook(int code, UINT message, HWND target, ULONG_PTR extraInfo) {
        gHookData = {};
        gHookData.hwnd = target;
        gHookData.wHitTestCode = HTCLIENT;
        gHookData.dwExtraInfo = extraInfo;
        LRESULT result = procs_.mouseHook(code, message, reinterpret_cast<LPARAM>(&gHookData));
        PumpMessages();
        return result;
    }
    void RunCases(const std::vector<MouseCase>& cases) {
        for (const MouseCase& c : cases) {
            SCOPED_TRACE(c.name);
            auto a = Arrange(c.arrangement);
            HWND target = c.target == Target::kControl     ? a->control
                          : c.target == Target::kEdit      ? a->edit
                          : c.target == Target::kComboEdit ? a->comboEdit
                                                           : a->container;
            ScriptKeys(c.thread, c.physical);
            SwappedButtons buttons(c.swapped);
            ASSERT_EQ(GetSystemMetrics(SM_SWAPBUTTON) != 0, c.swapped);
            EXPECT_EQ(CallHook(c.code, c.message, target, c.extraInfo), kPassedOn) << "the hook never swallows";
            EXPECT_SEQUENCE(c.expected);
        }
    }
};

TEST_F(MouseHook, AReleaseOnControl2OfAnEditorDialogDismissesIt) {
    RunCases({
        {"quick view, on the control", kDialogQuickView, Target::kControl, kQuickViewDismissal},
        {"quick view under the other host", kDialogQuickViewFreeCommander, Target::kControl, kQuickViewDismissal},
        {"quick view, on the editor", kDialogQuickView, Target::kEdit, kQuickViewDismissal},
        // The grandparent is the host main window: its first child stands in, so the
        // outer root window is the host main window itself.
        {"quick view, on the container", kDialogQuickView, Target::kContainer, kQuickViewDismissal},
        {"quick view, the button only thread-state down", kDialogQuickView, Target::kControl, kQuickViewDismissal,
         WM_LBUTTONUP, HC_ACTION, 0, {}, {VK_LBUTTON}},
        {"lister mode, on the editor", kDialogListerMode, Target::kEdit, kListerDismissal},
        {"lister mode, an unmarked click", kDialogListerMode, Target::kEdit, kListerDismissal, WM_LBUTTONUP, HC_ACTION,
         kSyntheticClickMark + 1},
        // Nested below another control of the dialog, the release still finds the dialog's owner.
        {"quick view, on the edit box of a combo box", kDialogQuickView, Target::kComboEdit, kQuickViewDismissal},
        {"lister mode, on the edit box of a combo box", kDialogListerMode, Target::kComboEdit, kListerDismissal},
        {"quick view, buttons swapped", kDialogQuickView, Target::kControl, WithSwappedClick(kQuickViewDismissal),
         WM_LBUTTONUP, HC_ACTION, 0, {}, {}, true},
        {"lister mode, buttons swapped", kDialogListerMode, Target::kComboEdit, WithSwappedClick(kListerDismissal),
         WM_LBUTTONUP, HC_ACTION, 0, {}, {}, true},
    });
}

TEST_F(MouseHook, AReleaseOnAnotherControlOnlyClicks) {
    RunCases({
        {"control 1, quick view", DialogWith(kDialogQuickView, L"#32770", L"Velnote", 1), Target::kControl,
         kClickOnly},
        {"control 3, lister mode", DialogWith(kDialogListerMode, L"#32770", L"Velnote", 3), Target::kEdit,
         kClickOnly},
        {"control 1, buttons swapped", DialogWith(kDialogQuickView, L"#32770", L"Velnote", 1), Target::kControl,
         WithSwappedClick(kClickOnly), WM_LBUTTONUP, HC_ACTION, 0, {}, {}, true},
    });
}

TEST_F(MouseHook, EverythingElsePassesOnAndDoesNothing) {
    std::vector<MouseCase> cases = {
        {"left button down again", kDialogQuickView, Target::kControl, kNothing, WM_LBUTTONUP, HC_ACTION, 0,
         {VK_LBUTTON}},
        {"title with a trailing blank", DialogWith(kDialogQuickView, L"#32770", L"Velnote ", 2), Target::kControl,
         kNothing},
        {"title in other letter case", DialogWith(kDialogListerMode, L"#32770", L"velnote", 2), Target::kEdit,
         kNothing},
        {"class with a trailing blank", DialogWith(kDialogQuickView, L"#32770 ", L"Velnote", 2), Target::kControl,
         kNothing},
        {"no dialog", kListerMode, Target::kEdit, kNothing},
        {"the hooks' own click", kDialogQuickView, Target::kControl, kNothing, WM_LBUTTONUP, HC_ACTION,
         kSyntheticClickMark},
    };
    for (UINT message : {WM_LBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONUP, WM_NCLBUTTONUP, WM_MOUSEMOVE, WM_LBUTTONDBLCLK})
        cases.push_back({"another message", kDialogQuickView, Target::kControl, {PassedOn(message)}, message});
    for (int code : {HC_NOREMOVE, 1, -1})
        cases.push_back({"another hook code", kDialogListerMode, Target::kEdit, {PassedOn(WM_LBUTTONUP, code)},
                         WM_LBUTTONUP, code});
    RunCases(cases);
}

// A click on the dialog's own button in a stand-alone lister. The dialog's owner, as the
// system records it, is the top-level window above the embedded editor (a child window
// owns nothing): the lister window. The lister must still be asked to close.
TEST_F(MouseHook, AClickOnControl2ClosesAStandAloneLister) {
    auto a = Arrange(kDialogListerMode);
    ASSERT_EQ(GetParent(a->dialog), a->lister) << "the dialog's owner";
    ScriptKeys({}, {});
    EXPECT_EQ(CallHook(HC_ACTION, WM_LBUTTONUP, a->control, 0), kPassedOn);
    EXPECT_SEQUENCE(kListerDismissal);
}

// The release of the hooks' own click comes back through this hook; it must not click again.
TEST_F(MouseHook, TheReleaseOfItsOwnClickDoesNotClickAgain) {
    auto a = Arrange(DialogWith(kDialogQuickView, L"#32770", L"Velnote", 1));
    ScriptKeys({}, {});
    EXPECT_EQ(CallHook(HC_ACTION, WM_LBUTTONUP, a->control, 0), kPassedOn);
    EXPECT_SEQUENCE(kClickOnly);
    ASSERT_EQ(Recorded().size(), 3u);
    const Entry release = Recorded()[1];
    ASSERT_EQ(release.message, static_cast<UINT>(MOUSEEVENTF_LEFTUP));
    ClearRecorded();
    EXPECT_EQ(CallHook(HC_ACTION, WM_LBUTTONUP, a->control, static_cast<ULONG_PTR>(release.lParam)), kPassedOn);
    EXPECT_SEQUENCE(kNothing);
}

}  // namespace
