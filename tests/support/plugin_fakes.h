// Import-table fakes bound on the plug-in module that feed the recorder (recorder.h) and
// script what the plug-in reads: key state, keyboard focus and the active window.
//
// What each recording fake appends, and what it does besides:
//   PostMessageW(w, m, wp, lp)       {"PostMessageW", name(w), m, wp, lp}; then really posts
//   SendMessageW(w, m, wp, lp)       {"SendMessageW", name(w), m, wp, lp}; then really sends
//   SendMessageTimeoutW(w, m, wp, lp, ...) {"SendMessageTimeoutW", name(w), m, wp, lp}; then really sends
//   SetForegroundWindow(w)           {"SetForegroundWindow", name(w)}; changes nothing, returns TRUE
//   SetFocus(w)                      {"SetFocus", name(w)}; moves the scripted focus to w
//   keybd_event(vk, scan, f, extra)  {"keybd_event", scan ? "scan=N" : "", f, vk, extra}; injects nothing
//   mouse_event(f, dx, dy, d, extra) {"mouse_event", "" or "dx=.. dy=.. data=..", f, 0, extra}; injects nothing
//   CallNextHookEx(h, code, wp, lp)  {"CallNextHookEx", h ? "hook" : "", code, wp, lp}; returns kPassedOn
// Scripted, not recorded:
//   GetFocus, GetActiveWindow        the scripted focus and active window
//   GetKeyState, GetAsyncKeyState    the scripted key state (0x8000 when down, else 0)
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "common/names.h"
#include "support/iat.h"
#include "support/recorder.h"

// What the fake CallNextHookEx returns, so that a test tells "passed on" from "swallowed" (1).
inline constexpr LRESULT kPassedOn = 0x7E57;

// Binds the fakes above on module for the lifetime of the object and resets the scripts:
// no key down, no focus, no active window.
class PluginFakes {
public:
    explicit PluginFakes(HMODULE module);
    ~PluginFakes();
    PluginFakes(const PluginFakes&) = delete;
    PluginFakes& operator=(const PluginFakes&) = delete;

private:
    std::vector<std::unique_ptr<ScopedImport>> imports_;
};

// Key state. threadKeys read as down through GetKeyState (the state as of the message
// being handled), physicalKeys through GetAsyncKeyState (the state at the moment of the
// call). Every other key reads as up. Replaces the previous script.
void ScriptKeys(const std::vector<int>& threadKeys, const std::vector<int>& physicalKeys);
// GetAsyncKeyState(key) returns reads one after the other, then what ScriptKeys said.
void ScriptAsyncReads(int key, const std::vector<SHORT>& reads);

void ScriptFocus(HWND focus);
void ScriptActiveWindow(HWND active);
HWND ScriptedFocus();

// Expected entries, in the form the fakes above and the recorded windows write them.
inline Entry Posted(const char* window, UINT message) { return {"PostMessageW", window, message}; }
inline Entry Sent(const char* window, UINT message) { return {"SendMessageW", window, message}; }
inline Entry Received(const char* window, UINT message) { return {window, "", message}; }
inline Entry ToFront(const char* window) { return {"SetForegroundWindow", window}; }
inline Entry FocusTo(const char* window) { return {"SetFocus", window}; }
// The hooks' synthetic click, marked so that the mouse hook lets its release pass.
inline const Entry kClickDown = {"mouse_event", "", MOUSEEVENTF_LEFTDOWN, 0, static_cast<LPARAM>(kSyntheticClickMark)};
inline const Entry kClickUp = {"mouse_event", "", MOUSEEVENTF_LEFTUP, 0, static_cast<LPARAM>(kSyntheticClickMark)};
