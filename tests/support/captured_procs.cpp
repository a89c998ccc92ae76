#include "support/captured_procs.h"

#include <gtest/gtest.h>

#include <string>

#include "support/host_windows.h"
#include "support/iat.h"
#include "support/recorder.h"

namespace {

struct CaptureState {
    HOOKPROC keyboardHook = nullptr;
    HOOKPROC mouseHook = nullptr;
    HMODULE hookModule = nullptr;
    DWORD keyboardThread = 0;
    DWORD mouseThread = 0;
    int processesStarted = 0;
    std::wstring messageShown;
};
CaptureState gCapture;

// The "editor process" is this one: the window wait then finds the test's own
// "Velnote4" window, and the handles, real duplicates, can be closed by the plug-in.
BOOL WINAPI FakeCreateProcessW(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                               LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION process) {
    ++gCapture.processesStarted;
    HANDLE self = GetCurrentProcess();
    DuplicateHandle(self, self, self, &process->hProcess, 0, FALSE, DUPLICATE_SAME_ACCESS);
    DuplicateHandle(self, GetCurrentThread(), self, &process->hThread, 0, FALSE, DUPLICATE_SAME_ACCESS);
    process->dwProcessId = GetCurrentProcessId();
    process->dwThreadId = GetCurrentThreadId();
    return TRUE;
}

// Installing for real would run the hooks on the test thread's own input; the handles
// handed back are never valid hooks, so unhooking them later fails harmlessly.
HHOOK WINAPI FakeSetWindowsHookExW(int kind, HOOKPROC proc, HINSTANCE module, DWORD thread) {
    gCapture.hookModule = module;
    if (kind == WH_KEYBOARD) {
        gCapture.keyboardHook = proc;
        gCapture.keyboardThread = thread;
    } else if (kind == WH_MOUSE) {
        gCapture.mouseHook = proc;
        gCapture.mouseThread = thread;
    }
    return reinterpret_cast<HHOOK>(static_cast<ULONG_PTR>(0xB000 + kind));
}

// No arrow key reads as held, whatever the desktop says, so the launch is never given up.
SHORT WINAPI FakeNoKeyDown(int) {
    return 0;
}

// A message box would block the test; its text explains the failure instead.
int WINAPI FakeMessageBoxW(HWND, LPCWSTR text, LPCWSTR, UINT) {
    gCapture.messageShown = text ? text : L"";
    return IDOK;
}

}  // namespace

CapturedProcs CaptureProcs(HWND lister) {
    CapturedProcs procs;
    gCapture = {};
    procs.plugin = LoadPluginCopy();
    if (procs.plugin.module == nullptr)
        return procs;
    const std::wstring& directory = procs.plugin.directory;
    WriteFileBytes(directory + L"velnote.ini", "[Options]\r\n");
    CreateDirectoryW((directory + kDefaultEditorFolder).c_str(), nullptr);
    WriteFileBytes(directory + kDefaultEditorFolder + L"Velnote.exe", "");
    std::wstring viewed = directory + L"viewed.txt";
    WriteFileBytes(viewed, "text\r\n");

    HWND editor = CreateRecordedWindow(L"Velnote4", L"Velnote", WS_OVERLAPPEDWINDOW, nullptr, "editor");
    {
        ScopedImport createProcess(procs.plugin.module, "KERNEL32.dll", "CreateProcessW",
                                   reinterpret_cast<void*>(&FakeCreateProcessW));
        ScopedImport setHook(procs.plugin.module, "USER32.dll", "SetWindowsHookExW",
                             reinterpret_cast<void*>(&FakeSetWindowsHookExW));
        ScopedImport asyncKeys(procs.plugin.module, "USER32.dll", "GetAsyncKeyState",
                               reinterpret_cast<void*>(&FakeNoKeyDown));
        ScopedImport messageBox(procs.plugin.module, "USER32.dll", "MessageBoxW",
                                reinterpret_cast<void*>(&FakeMessageBoxW));
        procs.container = procs.plugin.listLoadW(lister, viewed.data(), 0);
    }
    EXPECT_EQ(gCapture.messageShown, L"") << "ListLoadW showed: " << ToUtf8(gCapture.messageShown);
    EXPECT_EQ(gCapture.processesStarted, 1);
    EXPECT_NE(procs.container, nullptr) << "ListLoadW declined";
    if (procs.container == nullptr) {
        DestroyWindow(editor);
        return procs;
    }
    NameWindow(procs.container, "container");
    EXPECT_EQ(EmbeddedEditorOf(procs.container), editor) << "the stand-in editor was not embedded";
    procs.editor = editor;

    EXPECT_EQ(gCapture.hookModule, procs.plugin.module);
    EXPECT_EQ(gCapture.keyboardThread, GetCurrentThreadId());
    EXPECT_EQ(gCapture.mouseThread, GetCurrentThreadId());
    procs.keyboardHook = gCapture.keyboardHook;
    procs.mouseHook = gCapture.mouseHook;

    WNDCLASSEXW containerClass = {};
    containerClass.cbSize = sizeof containerClass;
    EXPECT_TRUE(GetClassInfoExW(procs.plugin.module, L"Velnote4", &containerClass));
    procs.containerProc = containerClass.lpfnWndProc;
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(procs.container, GWLP_WNDPROC)), procs.containerProc);

    for (const void* proc : {reinterpret_cast<const void*>(procs.keyboardHook),
                             reinterpret_cast<const void*>(procs.mouseHook),
                             reinterpret_cast<const void*>(procs.containerProc)}) {
        EXPECT_NE(proc, nullptr);
        if (proc) {
            EXPECT_TRUE(InModule(procs.plugin.module, proc)) << "a captured procedure lies outside the plug-in";
        }
    }
    PumpMessages();
    ClearRecorded();
    return procs;
}

void ReleaseProcs(CapturedProcs& procs) {
    if (procs.container && IsWindow(procs.container))
        DestroyWindow(procs.container);
    procs.container = nullptr;
    procs.editor = nullptr;
    UnloadPlugin(procs.plugin);
}

void CapturedProcsTest::SetUp() {
    lister_ = CreateRecordedWindow(listerClass_, L"Lister", WS_OVERLAPPEDWINDOW, nullptr, listerName_);
    procs_ = CaptureProcs(lister_);
    ASSERT_NE(procs_.keyboardHook, nullptr);
    ASSERT_NE(procs_.mouseHook, nullptr);
    ASSERT_NE(procs_.containerProc, nullptr);
    fakes_ = std::make_unique<PluginFakes>(procs_.plugin.module);
    ClearRecorded();
}

void CapturedProcsTest::TearDown() {
    fakes_.reset();
    ReleaseProcs(procs_);
    DestroyWindow(lister_);
}
