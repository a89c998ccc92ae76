#include "hosting/launch_keys.h"

#include <cstring>
#include <cwchar>
#include <utility>

#include "common/module.h"
#include "common/window_class.h"

// A key as SendInput will give it again: the key, its scan code (a character's code for a
// character key) and KEYEVENTF_ flags.
struct HeldKey {
    WORD key;
    WORD scanCode;
    DWORD flags;
};

enum class InputPhase { kLaunching, kGivingBack };

// Of a key, the transition last held; kNone also for a key passed on.
enum class Transition : unsigned char { kNone, kDown, kUp };

// The launch's input. A low-level hook procedure has no context of its own, so what it reads
// and fills lives here. Only the launch that claimed the block uses it: its hook is called on
// that thread alone, and a launch on another thread, or one started from inside this launch's
// waits, holds nothing.
static struct {
    LONG thread;        // the launching thread, from BeginLaunchInput until the last key is given back; 0: free
    InputPhase phase;
    int nestedLaunches;  // launches begun on this thread inside this one's waits
    DWORD editorProcess;
    HHOOK hook;
    HWND giver;         // the window that gives the keys back in the phase kGivingBack
    bool arrowTyped;
    bool quitTaken;     // a WM_QUIT came out of the queue with the keys waiting there
    int quitCode;
    UINT count;
    UINT given;         // of the keys held, those already given back
    UINT keysDown;      // held key-downs whose key-up is not held yet: each keeps a place for it
    Transition lastHeld[256];  // by virtual key
    UINT modifiersDown;  // given back down and not up yet
    WORD lastCharacter;  // of the last character key held going down
    // The hook's own: it runs inside any wait of the launching thread, where the module's
    // shared text may be in use. One character longer than the one name compared with.
    wchar_t frontClass[sizeof kDialogClass / sizeof(wchar_t) + 1];
    HeldKey keys[kHeldKeysMax];
} gInput;

static bool IsArrowKey(DWORD key) {
    for (int arrow : kArrowKeys)
        if (key == static_cast<DWORD>(arrow))
            return true;
    return false;
}

static bool IsModifierKey(WORD key) {
    for (int modifier : kModifierKeys)
        if (key == modifier)
            return true;
    return false;
}

// Without the hook an arrow key is seen only in the key state, so keys still held or
// pressed from before the viewer opened are released first. The tries are counted: a key-up
// swallowed by another program's low-level hook leaves the key reading as down.
static void ReleaseArrowKeys() {
    for (int key : kArrowKeys)
        for (int tries = 0; tries < kArrowKeyReleaseTries && GetAsyncKeyState(key) != 0; ++tries)
            keybd_event(static_cast<BYTE>(key), 0, KEYEVENTF_KEYUP, 0);
}

static bool OwnedByThisThread() {
    return static_cast<DWORD>(gInput.thread) == GetCurrentThreadId();
}

// The same key, scan code and transition, so that the key state and the characters come out
// as typed. Character keys come back as the same characters.
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

enum class Holding { kHeld, kDropped, kPassedOn };

// Puts the key among the held ones at place `at`. Once the block fills, every held key-down
// keeps a place for its key-up, so that no key is left down when they are given back: a
// repeated key-down that does not fit is dropped, and any other key that does not fit goes on
// as if nothing held it (a new key-down with its key-up after it).
static Holding HoldAt(UINT at, DWORD key, const HeldKey& held) {
    const bool up = (held.flags & KEYEVENTF_KEYUP) != 0;
    Transition& last = gInput.lastHeld[key & 0xFF];
    const bool down = last == Transition::kDown;
    const UINT placesNeeded = up && down ? 0 : !up && !down ? 2 : 1;
    if (placesNeeded > 0 && gInput.count + gInput.keysDown + placesNeeded > kHeldKeysMax) {
        if (!up && down)
            return Holding::kDropped;
        last = Transition::kNone;
        return Holding::kPassedOn;
    }
    if (!up && !down)
        ++gInput.keysDown;
    else if (up && down)
        --gInput.keysDown;
    last = up ? Transition::kUp : Transition::kDown;
    std::memmove(&gInput.keys[at + 1], &gInput.keys[at], (gInput.count - at) * sizeof(HeldKey));
    gInput.keys[at] = held;
    ++gInput.count;
    return Holding::kHeld;
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
    if (process != gInput.editorProcess)
        return false;
    const int length = GetClassNameW(front, gInput.frontClass, sizeof gInput.frontClass / sizeof(wchar_t));
    return length == 0 || std::wcscmp(gInput.frontClass, kDialogClass) != 0;
}

// Called on the launching thread for every key anyone types, before any window sees it; it
// must answer at once (the system waits for it), so it only notes the key. It goes on while
// the keys are given back, so that a key typed meanwhile (a key-up among them) comes after them.
static LRESULT CALLBACK HoldKey(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HC_ACTION)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    const auto& key = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    if (key.dwExtraInfo == kGivenBackKeyMark || !KeyIsForHostOrEditor())
        return CallNextHookEx(nullptr, code, wParam, lParam);
    const bool up = (key.flags & LLKHF_UP) != 0;
    // A key-up after the key's held key-up says nothing new, and the host would get two. Wine
    // on an X display makes one while the keys are given back: taking the key state from the
    // X server, it releases a key given back down, which the server never saw pressed.
    if (up && gInput.lastHeld[key.vkCode & 0xFF] == Transition::kUp)
        return 1;
    if (!up && IsArrowKey(key.vkCode))
        gInput.arrowTyped = true;
    const HeldKey held = HeldKeyOf(key.vkCode, key.scanCode, up, (key.flags & LLKHF_EXTENDED) != 0);
    if (HoldAt(gInput.count, key.vkCode, held) == Holding::kPassedOn)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    return 1;
}

// A queued character key (VK_PACKET) carries its character in lParam's high word where other
// keys carry their scan code and flags; its transition is the message's, and its release is
// the release of the character that went down last.
static HeldKey QueuedKeyOf(const MSG& msg) {
    const bool up = msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP;
    const WORD high = HIWORD(msg.lParam);
    if (msg.wParam != VK_PACKET)
        return HeldKeyOf(static_cast<DWORD>(msg.wParam), LOBYTE(high), up, (high & KF_EXTENDED) != 0);
    if (!up)
        gInput.lastCharacter = high;
    return HeldKeyOf(VK_PACKET, up && gInput.lastCharacter != 0 ? gInput.lastCharacter : high, up, false);
}

// Keys typed before the hook wait in this thread's queue; once the editor's window joins the
// lister's, the two threads share their input and the editor would take them. They are older
// than any the hook holds meanwhile (the peek answers sent messages, the hook's among them),
// so they go in front of those, in the order they came. Windows documents that a peek returns
// WM_QUIT whatever its range; it is posted again after the keys.
static void TakeQueuedKeys(bool arrowsGiveUp) {
    UINT at = gInput.count;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE | PM_QS_INPUT)) {
        if (msg.message == WM_QUIT) {
            gInput.quitTaken = true;
            gInput.quitCode = static_cast<int>(msg.wParam);
            continue;
        }
        const bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
        if (arrowsGiveUp && down && IsArrowKey(static_cast<DWORD>(msg.wParam)))
            gInput.arrowTyped = true;
        if (HoldAt(at, static_cast<DWORD>(msg.wParam), QueuedKeyOf(msg)) == Holding::kHeld)
            ++at;
    }
}

static void RemoveKeyHook() {
    if (gInput.hook != nullptr)
        UnhookWindowsHookEx(gInput.hook);
    gInput.hook = nullptr;
}

// The keys of the last launch not given back yet are older than any typed since.
static void TakeOverKeysNotGivenBack() {
    DestroyWindow(std::exchange(gInput.giver, nullptr));
    RemoveKeyHook();
    gInput.count -= gInput.given;
    std::memmove(&gInput.keys[0], &gInput.keys[gInput.given], gInput.count * sizeof(HeldKey));
    gInput.given = 0;
}

void BeginLaunchInput() {
    ReleaseArrowKeys();
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (InterlockedCompareExchange(&gInput.thread, self, 0) == 0) {
        gInput.count = 0;
        gInput.given = 0;
        gInput.keysDown = 0;
        std::memset(gInput.lastHeld, 0, sizeof gInput.lastHeld);
        gInput.quitTaken = false;
        gInput.modifiersDown = 0;
        gInput.nestedLaunches = 0;
        gInput.hook = nullptr;
    } else if (!OwnedByThisThread()) {
        return;
    } else if (gInput.phase == InputPhase::kLaunching) {
        ++gInput.nestedLaunches;
        return;
    } else {
        TakeOverKeysNotGivenBack();
    }
    gInput.phase = InputPhase::kLaunching;
    gInput.arrowTyped = false;
    gInput.editorProcess = 0;
    TakeQueuedKeys(false);
}

void HoldLaunchKeys(DWORD editorProcessId) {
    if (!OwnedByThisThread() || gInput.nestedLaunches > 0)
        return;
    gInput.editorProcess = editorProcessId;
    gInput.hook = SetWindowsHookExW(WH_KEYBOARD_LL, HoldKey, gModule, 0);
    TakeQueuedKeys(true);
}

// The held keys show an arrow key the moment it is typed; without them the key state is
// read, which Wine caches for up to 50 ms in another process than the typist's.
bool ArrowKeyTyped() {
    if (OwnedByThisThread() && (gInput.hook != nullptr || gInput.arrowTyped))
        return gInput.arrowTyped;
    for (int key : kArrowKeys)
        if (GetAsyncKeyState(key) != 0)
            return true;
    return false;
}

void StopHoldingKeys() {
    if (OwnedByThisThread() && gInput.nestedLaunches == 0)
        RemoveKeyHook();
}

static void FinishLaunchInput() {
    RemoveKeyHook();
    if (HWND giver = std::exchange(gInput.giver, nullptr))
        DestroyWindow(giver);
    if (gInput.quitTaken)
        PostQuitMessage(gInput.quitCode);
    InterlockedExchange(&gInput.thread, 0);
}

// Injected input goes to the focused window of the thread in front and updates the key state
// as the keys go; a posted key message would do neither. Wine routes an injected key when it
// is injected (Windows when it is read), so the keys go in steps, each up to a key-down, so
// that one that closes the viewer moves the focus before the next is given. A key typed with
// a modifier goes in one step with it: Wine on an X display sets the modifiers' state from the
// real keyboard between two steps, and the key would lose them.
static void GiveBackNextKeys() {
    INPUT inputs[kHeldKeysMax] = {};
    UINT step = 0;
    while (gInput.given < gInput.count) {
        const HeldKey& held = gInput.keys[gInput.given++];
        inputs[step].type = INPUT_KEYBOARD;
        inputs[step].ki.wVk = held.key;
        inputs[step].ki.wScan = held.scanCode;
        inputs[step].ki.dwFlags = held.flags;
        inputs[step].ki.dwExtraInfo = kGivenBackKeyMark;
        ++step;
        const bool up = (held.flags & KEYEVENTF_KEYUP) != 0;
        if (!IsModifierKey(held.key)) {
            if (!up && gInput.modifiersDown == 0)
                break;
        } else if (!up) {
            ++gInput.modifiersDown;
        } else if (gInput.modifiersDown > 0) {
            --gInput.modifiersDown;
        }
    }
    if (step > 0)
        SendInput(step, inputs, sizeof(INPUT));
    if (gInput.given == gInput.count)
        FinishLaunchInput();
}

// A giver destroyed by anyone else (its thread ended) frees the block for other launches.
static void OnKeyGiverDestroyed(HWND giver) {
    if (gInput.giver != giver)
        return;
    gInput.giver = nullptr;
    InterlockedExchange(&gInput.thread, 0);
}

static LRESULT CALLBACK KeyGiverProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_TIMER:
        GiveBackNextKeys();
        return 0;
    case WM_DESTROY:
        OnKeyGiverDestroyed(wnd);
        return 0;
    default:
        return DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

// A message-only window of the host's thread, so that the steps run from the host's own
// message loop.
static HWND CreateKeyGiver() {
    RegisterModuleClass(kKeyGiverClass, KeyGiverProc);
    HWND giver = CreateWindowExW(0, kKeyGiverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, gModule, nullptr);
    if (giver != nullptr && SetTimer(giver, kKeyGiverTimer, kKeyGiverStepMs, nullptr) == 0) {
        DestroyWindow(giver);
        return nullptr;
    }
    return giver;
}

void EndLaunchInput() {
    if (!OwnedByThisThread())
        return;
    if (gInput.nestedLaunches > 0) {
        --gInput.nestedLaunches;
        return;
    }
    gInput.phase = InputPhase::kGivingBack;
    GiveBackNextKeys();
    if (!OwnedByThisThread())
        return;
    gInput.giver = CreateKeyGiver();
    // Without a window to step from, the rest goes at once.
    while (gInput.giver == nullptr && OwnedByThisThread())
        GiveBackNextKeys();
}
