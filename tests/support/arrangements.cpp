#include "support/arrangements.h"

#include <gtest/gtest.h>

#include <string>

#include "support/plugin_fakes.h"
#include "support/recorder.h"

namespace {

const wchar_t* HostClass(HostKind kind) {
    return kind == HostKind::kTotalCommander ? L"TTOTAL_CMD" : L"FreeCommanderXE.SingleInst.1";
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

}  // namespace

HWND CreateWindowWithMenu(const wchar_t* className, int menuItems, const char* name) {
    HMENU menu = nullptr;
    if (menuItems >= 0) {
        menu = CreateMenu();
        for (int item = 0; item < menuItems; ++item)
            AppendMenuW(menu, MF_STRING, 100 + item, L"Item");
    }
    return CreateRecordedWindow(className, L"Host", WS_OVERLAPPEDWINDOW, nullptr, name, menu);
}

std::unique_ptr<Arrangement> Arrange(const ArrangementPlan& plan) {
    auto arrangement = std::make_unique<Arrangement>();
    Arrangement& a = *arrangement;
    if (plan.quickViewHost != HostKind::kNone) {
        a.host = CreateWindowWithMenu(HostClass(plan.quickViewHost), 8, "host");
        a.lister = CreateRecordedWindow(L"TLister", L"Lister", kChild, a.host, "lister");
    } else {
        a.lister = CreateRecordedWindow(L"TLister", L"Lister", WS_OVERLAPPEDWINDOW, nullptr, "lister");
        if (plan.elsewhere != HostKind::kNone)
            a.elsewhere = CreateWindowWithMenu(HostClass(plan.elsewhere), 8,
                                               plan.elsewhere == HostKind::kTotalCommander ? "tc" : "fc");
    }
    a.container = CreateRecordedWindow(L"Velnote4", L"", kChild, a.lister, "container");
    a.editor = CreateRecordedWindow(L"Velnote4", L"Velnote", WS_CHILD | WS_VISIBLE, a.container, "editor");
    a.edit = CreateRecordedWindow(L"VelnoteTestEdit", L"", kChild, a.editor, "edit", reinterpret_cast<HMENU>(100));
    a.focus = a.edit;
    a.active = a.host ? a.host : a.lister;
    if (plan.dialog) {
        // Owned by the editor main window; the system makes its top-level ancestor the owner.
        const DWORD style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
        if (std::wstring(plan.dialogClass) == L"#32770") {
            a.dialog = CreateWindowExW(0, L"#32770", plan.dialogTitle, style, 10, 10, 200, 100, a.editor, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
            EXPECT_NE(a.dialog, nullptr);
            RecordWindowMessages(a.dialog, "dialog");
        } else {
            a.dialog = CreateRecordedWindow(plan.dialogClass, plan.dialogTitle, style, a.editor, "dialog");
        }
        a.control = CreateWindowExW(0, L"BUTTON", L"Answer", kChild, 10, 10, 60, 20, a.dialog,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(plan.controlId)),
                                    GetModuleHandleW(nullptr), nullptr);
        EXPECT_NE(a.control, nullptr);
        NameWindow(a.control, "control");
        HWND combo = CreateWindowExW(0, L"COMBOBOX", L"", kChild | CBS_DROPDOWN, 80, 10, 100, 80, a.dialog, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
        a.comboEdit = FindWindowExW(combo, nullptr, L"Edit", nullptr);
        EXPECT_NE(a.comboEdit, nullptr) << "the combo box has no edit box";
        NameWindow(a.comboEdit, "combo edit");
        a.focus = a.control;
        a.active = a.dialog;
    }
    ScriptFocus(a.focus);
    ScriptActiveWindow(a.active);
    PumpMessages();
    ClearRecorded();
    return arrangement;
}

Arrangement::~Arrangement() {
    for (HWND wnd : {dialog, host ? host : lister, elsewhere})
        if (wnd)
            DestroyWindow(wnd);
    PumpMessages();
}
