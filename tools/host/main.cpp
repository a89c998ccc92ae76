// velnote-host [--quick-view] [--exit-after-open] [--screenshot FILE.png [--hung]] PLUGIN FILE
//
// Loads the lister plug-in PLUGIN, shows FILE through it and reports on stdout what the
// plug-in returned. Exit code 0 means: loaded, opened, closed with ListCloseWindow, and
// the editor process the plug-in embedded has ended.
#include <cstdio>
#include <cwchar>

#include "host.h"

enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitNotLoaded = 2, kExitDeclined = 3, kExitNoScreenshot = 4, kExitEditorLeft = 5 };

// How long the editor may take to show for a screenshot, and to end after the view closed.
static constexpr DWORD kEditorShowMs = 15000;
static constexpr DWORD kEditorEndMs = 10000;
// --hung: the stand-in editor's request to read no messages for a while (tests/editor), how
// long it lasts, and when the picture is taken: once the viewer shows that the editor does not
// answer (Windows counts it as hung after 5 s), and before it answers again.
static constexpr UINT kStandInHangRequest = 40005;
static constexpr DWORD kHangMs = 8000;
static constexpr DWORD kHungPictureMs = 6500;

struct Options {
    std::wstring plugin;
    std::wstring file;
    std::wstring screenshot;
    bool quickView = false;
    bool exitAfterOpen = false;
    bool hung = false;
};

static void PrintUsage() {
    std::fwprintf(stderr,
                  L"usage: velnote-host [--quick-view] [--exit-after-open] [--screenshot FILE.png [--hung]] PLUGIN FILE\n"
                  L"  --quick-view       show FILE in a panel of a \"TTOTAL_CMD\" main window, not in a lister window\n"
                  L"  --exit-after-open  close the view as soon as the plug-in has opened it\n"
                  L"  --screenshot F     when the editor shows, save the window as PNG file F, then close\n"
                  L"  --hung             with the stand-in editor: take the picture while it does not answer\n");
}

static bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--quick-view") == 0)
            options.quickView = true;
        else if (std::wcscmp(argv[i], L"--exit-after-open") == 0)
            options.exitAfterOpen = true;
        else if (std::wcscmp(argv[i], L"--hung") == 0)
            options.hung = true;
        else if (std::wcscmp(argv[i], L"--screenshot") == 0 && i + 1 < argc)
            options.screenshot = argv[++i];
        else if (argv[i][0] == L'-' && argv[i][1] == L'-')
            return false;
        else if (options.plugin.empty())
            options.plugin = argv[i];
        else if (options.file.empty())
            options.file = argv[i];
        else
            return false;
    }
    return !options.file.empty();
}

template <typename Function>
static bool BindExport(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (function == nullptr)
        std::fwprintf(stderr, L"velnote-host: the plug-in does not export %hs\n", name);
    return function != nullptr;
}

static bool LoadListerPlugin(const std::wstring& path, ListerPlugin& plugin) {
    plugin.module = LoadLibraryW(path.c_str());
    if (plugin.module == nullptr) {
        std::fwprintf(stderr, L"velnote-host: cannot load %ls (error %lu)\n", path.c_str(), GetLastError());
        return false;
    }
    // Every check runs, so that one run names every missing export.
    bool bound = BindExport(plugin.module, "ListLoad", plugin.listLoad);
    bound &= BindExport(plugin.module, "ListLoadW", plugin.listLoadW);
    bound &= BindExport(plugin.module, "ListGetDetectString", plugin.listGetDetectString);
    bound &= BindExport(plugin.module, "ListCloseWindow", plugin.listCloseWindow);
    bound &= BindExport(plugin.module, "ListSearchText", plugin.listSearchText);
    bound &= BindExport(plugin.module, "ListSearchTextW", plugin.listSearchTextW);
    bound &= BindExport(plugin.module, "ListPrint", plugin.listPrint);
    bound &= BindExport(plugin.module, "ListSendCommand", plugin.listSendCommand);
    return bound;
}

// The plug-in keeps nothing of the editor process, so the host finds it through the
// window the plug-in embedded.
static HANDLE OpenEditorProcess(HWND container) {
    DWORD processId = 0;
    GetWindowThreadProcessId(EmbeddedEditor(container), &processId);
    std::fwprintf(stdout, L"ListLoadW returned the container window; editor process %lu\n", processId);
    std::fflush(stdout);
    return processId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr;
}

static void RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

static bool WaitForEditorEnd(HANDLE editorProcess) {
    if (editorProcess == nullptr)
        return false;
    const bool ended = WaitForSingleObject(editorProcess, kEditorEndMs) == WAIT_OBJECT_0;
    CloseHandle(editorProcess);
    std::fwprintf(stdout, ended ? L"editor process ended\n" : L"editor process still running\n");
    return ended;
}

// Where the editor's window lies, in words: under Wine a window of another process that
// is a child of ours is not drawn, so the picture alone cannot show it.
static void ReportEditorPlacement(HWND container) {
    HWND editor = EmbeddedEditor(container);
    wchar_t className[64] = {};
    GetClassNameW(editor, className, 64);
    RECT editorRect, client;
    GetWindowRect(editor, &editorRect);
    MapWindowPoints(nullptr, GetParent(container), reinterpret_cast<POINT*>(&editorRect), 2);
    GetClientRect(GetParent(container), &client);
    std::fwprintf(stdout, L"editor window \"%ls\" at %ld,%ld size %ldx%ld in a lister client area of %ldx%ld\n", className,
                  editorRect.left, editorRect.top, editorRect.right - editorRect.left, editorRect.bottom - editorRect.top,
                  client.right, client.bottom);
}

static int TakeScreenshot(HWND container, HWND window, const std::wstring& pngFile, bool hung) {
    if (!WaitForEditorShown(container, kEditorShowMs)) {
        std::fwprintf(stderr, L"velnote-host: the editor did not show within %lu ms\n", kEditorShowMs);
        return kExitNoScreenshot;
    }
    ReportEditorPlacement(container);
    if (hung) {
        PostMessageW(EmbeddedEditor(container), WM_COMMAND, kStandInHangRequest, kHangMs);
        PumpMessagesFor(kHungPictureMs);
    }
    if (!SaveWindowScreenshot(window, pngFile)) {
        std::fwprintf(stderr, L"velnote-host: cannot capture the window into %ls\n", pngFile.c_str());
        return kExitNoScreenshot;
    }
    std::fwprintf(stdout, L"screenshot saved to %ls\n", pngFile.c_str());
    // Closed once the editor answers again, so that it is asked to close and ends.
    if (hung)
        PumpMessagesFor(kHangMs - kHungPictureMs + 1000);
    return kExitOk;
}

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        PrintUsage();
        return kExitUsage;
    }
    ListerPlugin plugin = {};
    if (!LoadListerPlugin(options.plugin, plugin))
        return kExitNotLoaded;
    HostWindows windows = {};
    if (!CreateHostWindows(plugin, options.file, options.quickView, windows))
        return kExitNotLoaded;

    HWND container = plugin.listLoadW(windows.lister, options.file.data(), 0);
    if (container == nullptr) {
        std::fwprintf(stderr, L"velnote-host: ListLoadW declined %ls\n", options.file.c_str());
        if (IsWindow(windows.top))
            DestroyWindow(windows.top);
        return kExitDeclined;
    }
    HANDLE editorProcess = OpenEditorProcess(container);
    AttachViewer(container);

    int result = kExitOk;
    if (!options.screenshot.empty())
        result = TakeScreenshot(container, windows.top, options.screenshot, options.hung);
    if (options.exitAfterOpen || !options.screenshot.empty())
        PostMessageW(windows.top, WM_CLOSE, 0, 0);
    RunMessageLoop();

    if (!WaitForEditorEnd(editorProcess) && result == kExitOk)
        result = kExitEditorLeft;
    std::fwprintf(stdout, L"velnote-host: %ls\n", result == kExitOk ? L"opened and closed" : L"failed");
    return result;
}
