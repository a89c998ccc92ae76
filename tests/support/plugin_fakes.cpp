#include "support/plugin_fakes.h"

#include <deque>
#include <string>

#include "support/recorder.h"

namespace {

SHORT gThreadKeys[256];
SHORT gPhysicalKeys[256];
std::deque<SHORT> gAsyncReads[256];
HWND gFocus;
HWND gActive;

constexpr SHORT kDown = static_cast<SHORT>(0x8000);

BOOL WINAPI FakePostMessageW(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Record({"PostMessageW", WindowName(wnd), message, wParam, lParam});
    return PostMessageW(wnd, message, wParam, lParam);
}

LRESULT WINAPI FakeSendMessageW(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Record({"SendMessageW", WindowName(wnd), message, wParam, lParam});
    return SendMessageW(wnd, message, wParam, lParam);
}

LRESULT WINAPI FakeSendMessageTimeoutW(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                                       UINT timeoutMs, PDWORD_PTR result) {
    Record({"SendMessageTimeoutW", WindowName(wnd), message, wParam, lParam});
    return SendMessageTimeoutW(wnd, message, wParam, lParam, flags, timeoutMs, result);
}

BOOL WINAPI FakeSetForegroundWindow(HWND wnd) {
    Record({"SetForegroundWindow", WindowName(wnd)});
    return TRUE;
}

HWND WINAPI FakeSetFocus(HWND wnd) {
    Record({"SetFocus", WindowName(wnd)});
    HWND previous = gFocus;
    gFocus = wnd;
    return previous;
}

HWND WINAPI FakeGetFocus() {
    return gFocus;
}

HWND WINAPI FakeGetActiveWindow() {
    return gActive;
}

void WINAPI FakeKeybdEvent(BYTE key, BYTE scan, DWORD flags, ULONG_PTR extra) {
    std::string detail = scan ? "scan=" + std::to_string(scan) : "";
    Record({"keybd_event", detail, flags, key, static_cast<LPARAM>(extra)});
}

void WINAPI FakeMouseEvent(DWORD flags, DWORD dx, DWORD dy, DWORD data, ULONG_PTR extra) {
    std::string detail;
    if (dx || dy || data)
        detail = "dx=" + std::to_string(dx) + " dy=" + std::to_string(dy) + " data=" + std::to_string(data);
    Record({"mouse_event", detail, flags, 0, static_cast<LPARAM>(extra)});
}

LRESULT WINAPI FakeCallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
    Record({"CallNextHookEx", hook ? "hook" : "", static_cast<UINT>(code), wParam, lParam});
    return kPassedOn;
}

SHORT WINAPI FakeGetKeyState(int key) {
    return key >= 0 && key < 256 ? gThreadKeys[key] : 0;
}

SHORT WINAPI FakeGetAsyncKeyState(int key) {
    if (key < 0 || key >= 256)
        return 0;
    if (!gAsyncReads[key].empty()) {
        SHORT value = gAsyncReads[key].front();
        gAsyncReads[key].pop_front();
        return value;
    }
    return gPhysicalKeys[key];
}

void ResetScripts() {
    ScriptKeys({}, {});
    gFocus = nullptr;
    gActive = nullptr;
}

}  // namespace

PluginFakes::PluginFakes(HMODULE module) {
    ResetScripts();
    struct Binding {
        const char* function;
        void* fake;
    };
    const Binding bindings[] = {
        {"PostMessageW", reinterpret_cast<void*>(&FakePostMessageW)},
        {"SendMessageW", reinterpret_cast<void*>(&FakeSendMessageW)},
        {"SendMessageTimeoutW", reinterpret_cast<void*>(&FakeSendMessageTimeoutW)},
        {"SetForegroundWindow", reinterpret_cast<void*>(&FakeSetForegroundWindow)},
        {"SetFocus", reinterpret_cast<void*>(&FakeSetFocus)},
        {"GetFocus", reinterpret_cast<void*>(&FakeGetFocus)},
        {"GetActiveWindow", reinterpret_cast<void*>(&FakeGetActiveWindow)},
        {"keybd_event", reinterpret_cast<void*>(&FakeKeybdEvent)},
        {"mouse_event", reinterpret_cast<void*>(&FakeMouseEvent)},
        {"CallNextHookEx", reinterpret_cast<void*>(&FakeCallNextHookEx)},
        {"GetKeyState", reinterpret_cast<void*>(&FakeGetKeyState)},
        {"GetAsyncKeyState", reinterpret_cast<void*>(&FakeGetAsyncKeyState)},
    };
    for (const Binding& binding : bindings)
        imports_.push_back(std::make_unique<ScopedImport>(module, "USER32.dll", binding.function, binding.fake));
}

PluginFakes::~PluginFakes() {
    imports_.clear();
    ResetScripts();
}

void ScriptKeys(const std::vector<int>& threadKeys, const std::vector<int>& physicalKeys) {
    for (int key = 0; key < 256; ++key) {
        gThreadKeys[key] = 0;
        gPhysicalKeys[key] = 0;
        gAsyncReads[key].clear();
    }
    for (int key : threadKeys)
        gThreadKeys[key & 0xFF] = kDown;
    for (int key : physicalKeys)
        gPhysicalKeys[key & 0xFF] = kDown;
}

void ScriptAsyncReads(int key, const std::vector<SHORT>& reads) {
    gAsyncReads[key & 0xFF].assign(reads.begin(), reads.end());
}

void ScriptFocus(HWND focus) {
    gFocus = focus;
}

void ScriptActiveWindow(HWND active) {
    gActive = active;
}

HWND ScriptedFocus() {
    return gFocus;
}
