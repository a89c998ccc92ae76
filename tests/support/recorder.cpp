#include "support/recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace {

std::vector<Entry> gRecorded;
std::map<HWND, std::string> gWindowNames;
std::set<std::wstring> gRegisteredClasses;
std::map<HWND, WNDPROC> gSubclassed;  // the procedure each recording subclass calls on

void RecordMessage(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsRecordedMessage(message))
        Record({WindowName(wnd), "", message, wParam, lParam});
}

LRESULT CALLBACK RecordingWindowProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    RecordMessage(wnd, message, wParam, lParam);
    switch (message) {
    case WM_CLOSE: return 0;
    default:       return DefWindowProcW(wnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK RecordingSubclassProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    RecordMessage(wnd, message, wParam, lParam);
    auto original = gSubclassed.find(wnd);
    if (message == WM_CLOSE || original == gSubclassed.end())
        return 0;
    return CallWindowProcW(original->second, wnd, message, wParam, lParam);
}

void RegisterRecordedClass(const wchar_t* className) {
    if (gRegisteredClasses.count(className))
        return;
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = RecordingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className;
    EXPECT_NE(RegisterClassExW(&windowClass), 0) << "class registration, error " << GetLastError();
    gRegisteredClasses.insert(className);
}

const char* MessageName(UINT message) {
    switch (message) {
    case WM_KEYDOWN:    return "WM_KEYDOWN";
    case WM_KEYUP:      return "WM_KEYUP";
    case WM_SYSKEYDOWN: return "WM_SYSKEYDOWN";
    case WM_SYSKEYUP:   return "WM_SYSKEYUP";
    case WM_CHAR:       return "WM_CHAR";
    case WM_COMMAND:    return "WM_COMMAND";
    case WM_CLOSE:      return "WM_CLOSE";
    case WM_SYSCOMMAND: return "WM_SYSCOMMAND";
    default:            return nullptr;
    }
}

bool CarriesMessage(const Entry& entry) {
    return entry.source != "keybd_event" && entry.source != "mouse_event" && entry.source != "CallNextHookEx";
}

std::string Hex(unsigned long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", value);
    return text;
}

std::string FormatEntry(const Entry& entry) {
    std::string text = entry.source;
    if (!entry.window.empty())
        text.append("(").append(entry.window).append(")");
    const char* name = CarriesMessage(entry) ? MessageName(entry.message) : nullptr;
    text.append(" ").append(name ? name : Hex(entry.message));
    text.append(" ").append(entry.flags & kAnyWParam ? "*" : Hex(entry.wParam));
    text.append(" ").append(entry.flags & kAnyLParam ? "*" : Hex(static_cast<unsigned long long>(entry.lParam)));
    if (entry.flags & kOptional)
        text.append(" (optional)");
    return text;
}

bool Matches(const Entry& expected, const Entry& recorded) {
    return expected.source == recorded.source && expected.window == recorded.window &&
           expected.message == recorded.message && ((expected.flags & kAnyWParam) || expected.wParam == recorded.wParam) &&
           ((expected.flags & kAnyLParam) || expected.lParam == recorded.lParam);
}

}  // namespace

void Record(const Entry& entry) {
    gRecorded.push_back(entry);
}

const std::vector<Entry>& Recorded() {
    return gRecorded;
}

void ClearRecorded() {
    gRecorded.clear();
}

void NameWindow(HWND wnd, const std::string& name) {
    gWindowNames[wnd] = name;
}

std::string WindowName(HWND wnd) {
    if (wnd == nullptr)
        return "null";
    auto found = gWindowNames.find(wnd);
    return found != gWindowNames.end() ? found->second : Hex(reinterpret_cast<UINT_PTR>(wnd));
}

bool IsRecordedMessage(UINT message) {
    return MessageName(message) != nullptr;
}

HWND CreateRecordedWindow(const wchar_t* className, const wchar_t* title, DWORD style, HWND parent,
                          const std::string& name, HMENU idOrMenu) {
    RegisterRecordedClass(className);
    HWND wnd = CreateWindowExW(0, className, title, style, 0, 0, 200, 150, parent, idOrMenu, GetModuleHandleW(nullptr),
                               nullptr);
    EXPECT_NE(wnd, nullptr) << "window " << name << ", error " << GetLastError();
    NameWindow(wnd, name);
    return wnd;
}

void RecordWindowMessages(HWND wnd, const std::string& name) {
    NameWindow(wnd, name);
    gSubclassed[wnd] = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingSubclassProc)));
}

void PumpMessages() {
    MSG msg;
    // No TranslateMessage: a posted key is to be seen as posted, without characters made from it.
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

std::string FormatEntries(const std::vector<Entry>& entries) {
    std::string text;
    for (const Entry& entry : entries)
        text += "  " + FormatEntry(entry) + "\n";
    return text;
}

void ExpectSequence(const std::vector<Entry>& expected, const char* file, int line) {
    const std::vector<Entry>& recorded = gRecorded;
    size_t e = 0, r = 0;
    while (e < expected.size() && r < recorded.size()) {
        if (Matches(expected[e], recorded[r])) {
            ++e;
            ++r;
        } else if (expected[e].flags & kOptional) {
            ++e;
        } else {
            break;
        }
    }
    while (e < expected.size() && (expected[e].flags & kOptional))
        ++e;
    if (e == expected.size() && r == recorded.size())
        return;

    std::ostringstream out;
    out << "the recorded sequence differs from the expected one at expected entry " << e << ", recorded entry " << r
        << "\n";
    size_t width = 10;
    for (const Entry& entry : expected)
        width = std::max(width, FormatEntry(entry).size());
    char header[256];
    std::snprintf(header, sizeof header, "    %-*s | %s\n", static_cast<int>(width), "expected", "recorded");
    out << header;
    for (size_t i = 0; i < std::max(expected.size(), recorded.size()); ++i) {
        std::string left = i < expected.size() ? FormatEntry(expected[i]) : "";
        std::string right = i < recorded.size() ? FormatEntry(recorded[i]) : "";
        const char* mark = (i == e || i == r) ? ">>" : "  ";
        char row[512];
        std::snprintf(row, sizeof row, "%s%2zu %-*s | %s\n", mark, i, static_cast<int>(width), left.c_str(), right.c_str());
        out << row;
    }
    ADD_FAILURE_AT(file, line) << out.str();
}
