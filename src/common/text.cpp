#include "common/text.h"

#include <cwchar>

#include "common/module.h"

bool FormatText(wchar_t* out, int capacity, const wchar_t* format, std::initializer_list<const wchar_t*> args) {
    const wchar_t* const* arg = args.begin();
    int length = 0;
    bool fits = true;
    auto put = [&](wchar_t c) {
        if (length + 1 < capacity)
            out[length++] = c;
        else
            fits = false;
    };
    for (const wchar_t* f = format; *f; ++f) {
        if (f[0] == L'%' && f[1] == L's' && arg != args.end()) {
            for (const wchar_t* a = *arg++; *a; ++a)
                put(*a);
            ++f;
        } else {
            put(*f);
        }
    }
    out[length] = L'\0';
    return fits;
}

bool ContainsOne(const wchar_t* value) {
    return std::wcschr(value, L'1') != nullptr;
}

bool IsKeyDown(SHORT state) {
    return (state & 0x8000) != 0;
}

void ReadClassName(HWND wnd) {
    if (GetClassNameW(wnd, gText, kPathChars) == 0)
        gText[0] = L'\0';
}

static void ReadWindowText(HWND wnd) {
    if (GetWindowTextW(wnd, gText, kPathChars) == 0)
        gText[0] = L'\0';
}

bool TextIs(const wchar_t* literal) {
    return std::wcscmp(gText, literal) == 0;
}

bool TextIsHostMainClass() {
    return TextIs(kTotalCommanderClass) || TextIs(kFreeCommanderClass);
}

bool ClassNameIs(HWND wnd, const wchar_t* name) {
    ReadClassName(wnd);
    return TextIs(name);
}

bool WindowTextIs(HWND wnd, const wchar_t* text) {
    ReadWindowText(wnd);
    return TextIs(text);
}

bool IsHostMainWindow(HWND wnd) {
    ReadClassName(wnd);
    return TextIsHostMainClass();
}
