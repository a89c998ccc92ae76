// Window arrangements of a viewer, built from real windows of the test process, as the
// hooks find them from the focus inward: lister window -> container -> editor main
// window -> focused control, in a stand-alone lister or inside a host main window, with
// an editor dialog on top when asked. Every window records its messages (recorder.h)
// under the name given in the comments below.
#pragma once

#include <windows.h>

#include <memory>

enum class HostKind { kNone, kTotalCommander, kFreeCommander };

struct ArrangementPlan {
    // Quick view inside a host main window of this kind, or a stand-alone lister (kNone).
    HostKind quickViewHost = HostKind::kNone;
    // A separate top-level host main window elsewhere on the desktop ("tc" or "fc").
    HostKind elsewhere = HostKind::kTotalCommander;
    // An editor dialog owned by the editor main window, with its one control focused.
    bool dialog = false;
    const wchar_t* dialogClass = L"#32770";
    const wchar_t* dialogTitle = L"Velnote";
    int controlId = 2;
};

struct Arrangement {
    HWND host = nullptr;       // "host": "TTOTAL_CMD" or "FreeCommanderXE.SingleInst.1", quick view only
    HWND lister = nullptr;     // "lister": class "TLister", top-level in lister mode, the host's child in quick view
    HWND container = nullptr;  // "container"
    HWND editor = nullptr;     // "editor": class "Velnote4"
    HWND edit = nullptr;       // "edit": the editor's focused control
    HWND dialog = nullptr;     // "dialog"
    HWND control = nullptr;    // "control": the dialog's focused control
    HWND comboEdit = nullptr;  // "combo edit": the edit box inside a combo box of the dialog
    HWND elsewhere = nullptr;  // "tc" or "fc"
    HWND focus = nullptr;      // the control, or the edit control without a dialog
    HWND active = nullptr;     // the dialog, or the top-level window above the editor

    ~Arrangement();
};

// The arrangements the hook tests use most.
inline const ArrangementPlan kListerMode = {};
inline const ArrangementPlan kDialogListerMode = {HostKind::kNone, HostKind::kTotalCommander, true};
inline const ArrangementPlan kDialogQuickView = {HostKind::kTotalCommander, HostKind::kNone, true};
inline const ArrangementPlan kDialogQuickViewFreeCommander = {HostKind::kFreeCommander, HostKind::kNone, true};

// plan with a dialog of another class, title or focused control.
inline ArrangementPlan DialogWith(ArrangementPlan plan, const wchar_t* dialogClass, const wchar_t* title, int controlId) {
    plan.dialogClass = dialogClass;
    plan.dialogTitle = title;
    plan.controlId = controlId;
    return plan;
}

// Builds the arrangement and scripts focus and active window to it (plugin_fakes.h).
std::unique_ptr<Arrangement> Arrange(const ArrangementPlan& plan);

// A top-level window of className with a menu bar of menuItems items (none when negative).
HWND CreateWindowWithMenu(const wchar_t* className, int menuItems, const char* name);
