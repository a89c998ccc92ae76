#include "hosting/launch_keys.h"

#include <cstring>

#include "common/module.h"
#include "common/text.h"

// A key as SendInput will give it again: the key, its scan code and KEYEVENTF_ flags.
struct HeldKey {
    WORD key;
    WORD scanCode;
    DWORD flags;
};

// The keys held for one launch. A low-level hook procedure has no context of its own, so
// what it reads and fills lives here. Only the launch that claimed the block uses it: its
// hook is called on that thread alone, and a launch on another thread, or one started from
// inside this launch's waits, holds nothing.
static struct {
    LONG thread;           // the launching thread, from holding the first key to giving them back; 0: free
    DWORD editorProcess;
    HHOOK hook;
    bool arrowPressed;
    bool quitTaken;        // a WM_QUIT came out of the queue with the keys waiting there
    int quitCode;
    UINT count;
    HeldKey keys[kHeldKeysMax];
} gHeldKeys;

static bool IsArrowKey(DWORD key) {
    for (int arrow : kArrowKeys)
        if (key == static_cast<DWORD>(arrow))
            return true;
    return false;
}

// The same key, scan code and transition, so that the key state and the characters come out
// as typed. Keys injected as characters come back as such.
static HeldKey HeldKeyOf(DWORD key, DWORD scanCode, bool up, bool extended) {
    HeldKey held = {static_cast<WORD>(key), static_cast<WORD>(scanCode), 0};
    if (key == VK_PACKET) {
        held.key = 0;
        held.flags = KEYEVENTF_UNICODE;
    }
    if (up)
        held.flags |= KEYEVENTF_KEYUP;
    if (extended)
        held.flags |= KEYEVENTF_EXTENDEDKEY;
    return held;
}

// Keys are the host's while the host or the editor is in front, and while nothing is (the
// moment of a switch). Another program's keys go on untouched, and so do those of a question
// the editor asks before its main window: the user answers it.
static bool KeyIsForHostOrEditor() {
    HWND front = GetForegroundWindow();
    if (front == nullptr)
        return true;
    DWORD process = 0;
    GetWindowThreadProcessId(front, &process);
    if (process == GetCurrentProcessId())
        return true;
    return process == gHeldKeys.editorProcess && !ClassNameIs(front, kDialogClass);
}

// Called on the launching thread for every key anyone types, before any window sees it; it
// must answer at once (the system waits for it), so it only notes the key.
static LRESULT CALLBACK HoldKey(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HC_ACTION || !KeyIsForHostOrEditor())
        return CallNextHookEx(nullptr, code, wParam, lParam);
    const auto& key = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    const bool up = (key.flags & LLKHF_UP) != 0;
    if (!up && IsArrowKey(key.vkCode))
        gHeldKeys.arrowPressed = true;
    if (gHeldKeys.count == kHeldKeysMax)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    gHeldKeys.keys[gHeldKeys.count++] = HeldKeyOf(key.vkCode, key.scanCode, up, (key.flags & LLKHF_EXTENDED) != 0);
    return 1;
}

// Keys typed before the hook wait in this thread's queue; once the editor's window joins the
// lister's, the two threads share their input and the editor would take them. They are older
// than any the hook holds meanwhile (the peek answers sent messages, the hook's among them),
// so they go in front. Windows documents that a peek returns WM_QUIT whatever its range; it
// is posted again with the keys.
static void TakeQueuedKeys() {
    UINT taken = 0;
    MSG msg;
    while (gHeldKeys.count < kHeldKeysMax &&
           PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE | PM_QS_INPUT)) {
        if (msg.message == WM_QUIT) {
            gHeldKeys.quitTaken = true;
            gHeldKeys.quitCode = static_cast<int>(msg.wParam);
            continue;
        }
        const WORD keyFlags = HIWORD(msg.lParam);
        std::memmove(&gHeldKeys.keys[taken + 1], &gHeldKeys.keys[taken], (gHeldKeys.count - taken) * sizeof(HeldKey));
        gHeldKeys.keys[taken++] = HeldKeyOf(static_cast<DWORD>(msg.wParam), LOBYTE(keyFlags), (keyFlags & KF_UP) != 0,
                                           (keyFlags & KF_EXTENDED) != 0);
        ++gHeldKeys.count;
    }
}

bool HoldKeysDuringLaunch(DWORD editorProcessId) {
    if (InterlockedCompareExchange(&gHeldKeys.thread, static_cast<LONG>(GetCurrentThreadId()), 0) != 0)
        return false;
    gHeldKeys.editorProcess = editorProcessId;
    gHeldKeys.arrowPressed = false;
    gHeldKeys.quitTaken = false;
    gHeldKeys.count = 0;
    gHeldKeys.hook = SetWindowsHookExW(WH_KEYBOARD_LL, HoldKey, gModule, 0);
    if (gHeldKeys.hook == nullptr) {
        InterlockedExchange(&gHeldKeys.thread, 0);
        return false;
    }
    TakeQueuedKeys();
    return true;
}

// Windows calls a low-level hook by sending a message to the thread that installed it, and
// passes the key on (from Windows 7 on, removes the hook) when the thread does not answer in
// time: every wait of the launch answers sent messages.
void AnswerSentMessages() {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

bool HeldArrowKeyPressed() {
    return gHeldKeys.arrowPressed;
}

void StopHoldingKeys() {
    if (gHeldKeys.hook == nullptr)
        return;
    UnhookWindowsHookEx(gHeldKeys.hook);
    gHeldKeys.hook = nullptr;
}

// Injected input goes to the focused window of the thread in front, as if typed now, and
// updates the key state as the keys go; a posted key message would do neither.
void GiveBackHeldKeys() {
    StopHoldingKeys();
    // One call: the keys go in together, with no other input between them.
    INPUT inputs[kHeldKeysMax] = {};
    for (UINT i = 0; i < gHeldKeys.count; ++i) {
        inputs[i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = gHeldKeys.keys[i].key;
        inputs[i].ki.wScan = gHeldKeys.keys[i].scanCode;
        inputs[i].ki.dwFlags = gHeldKeys.keys[i].flags;
    }
    if (gHeldKeys.count > 0)
        SendInput(gHeldKeys.count, inputs, sizeof(INPUT));
    if (gHeldKeys.quitTaken)
        PostQuitMessage(gHeldKeys.quitCode);
    gHeldKeys.count = 0;
    InterlockedExchange(&gHeldKeys.thread, 0);
}
