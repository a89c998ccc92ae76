#include "support/viewer.h"

#include <cstdio>
#include <utility>

#include "support/recorder.h"

namespace {

std::vector<HHOOK> gInstalledHooks;
std::vector<HHOOK> gRemovedHooks;
HHOOK gLastKeyboardHook;
HHOOK gLastMouseHook;
std::vector<std::pair<HHOOK, std::string>> gHookNames;
bool gVisibleWhenAskedToClose;

std::string Hex(ULONG_PTR value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string HookName(HHOOK hook) {
    for (auto it = gHookNames.rbegin(); it != gHookNames.rend(); ++it)
        if (it->first == hook)
            return it->second;
    return Hex(reinterpret_cast<ULONG_PTR>(hook));
}

HHOOK WINAPI RecordSetWindowsHookEx(int id, HOOKPROC procedure, HINSTANCE module, DWORD thread) {
    HHOOK hook = SetWindowsHookExW(id, procedure, module, thread);
    if (id == WH_KEYBOARD || id == WH_MOUSE)  // the launch's own key hook is gone before ListLoadW returns
        gInstalledHooks.push_back(hook);
    if (id == WH_KEYBOARD) {
        gLastKeyboardHook = hook;
        gHookNames.push_back({hook, "keyboard hook"});
    } else if (id == WH_MOUSE) {
        gLastMouseHook = hook;
        gHookNames.push_back({hook, "mouse hook"});
    }
    return hook;
}

LRESULT WINAPI RecordSendMessage(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Record({"SendMessageW", WindowName(wnd), message, wParam, lParam});
    if (message == WM_CLOSE)
        gVisibleWhenAskedToClose = IsWindowVisible(wnd) != FALSE;
    return SendMessageW(wnd, message, wParam, lParam);
}

LRESULT WINAPI RecordSendMessageTimeout(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                                        UINT timeoutMs, PDWORD_PTR result) {
    Record({"SendMessageTimeoutW", WindowName(wnd), message, wParam, lParam});
    if (message == WM_CLOSE)
        gVisibleWhenAskedToClose = IsWindowVisible(wnd) != FALSE;
    return SendMessageTimeoutW(wnd, message, wParam, lParam, flags, timeoutMs, result);
}

BOOL WINAPI RecordPostMessage(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Record({"PostMessageW", WindowName(wnd), message, wParam, lParam});
    return PostMessageW(wnd, message, wParam, lParam);
}

HWND WINAPI RecordGetActiveWindow() {
    HWND active = GetActiveWindow();
    Record({"GetActiveWindow", WindowName(active)});
    return active;
}

BOOL WINAPI RecordShowWindow(HWND wnd, int show) {
    Record({"ShowWindow", WindowName(wnd), static_cast<UINT>(show)});
    return ShowWindow(wnd, show);
}

BOOL WINAPI RecordCloseWindow(HWND wnd) {
    Record({"CloseWindow", WindowName(wnd)});
    return CloseWindow(wnd);
}

BOOL WINAPI RecordUnhookWindowsHookEx(HHOOK hook) {
    Record({"UnhookWindowsHookEx", HookName(hook)});
    gRemovedHooks.push_back(hook);
    return UnhookWindowsHookEx(hook);
}

LSTATUS WINAPI RecordRegDeleteKey(HKEY root, LPCWSTR subkey) {
    std::string key = root == HKEY_CURRENT_USER ? "HKCU" : Hex(reinterpret_cast<ULONG_PTR>(root));
    Record({"RegDeleteKeyW", key + "\\" + (subkey ? ToUtf8(subkey) : "(null)")});
    return RegDeleteKeyW(root, subkey);
}

BOOL WINAPI RecordDestroyWindow(HWND wnd) {
    Record({"DestroyWindow", WindowName(wnd)});
    return DestroyWindow(wnd);
}

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CountTopLevelAndDescendants(HWND wnd, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(wnd, &process);
    if (process != GetCurrentProcessId())
        return TRUE;
    ++*reinterpret_cast<int*>(count);
    // Descendants of any process: an editor window left inside one of ours counts too.
    EnumChildWindows(wnd, CountWindow, count);
    return TRUE;
}

}  // namespace

Viewer::~Viewer() {
    Release();
}

Viewer::Viewer(Viewer&& other) noexcept
    : host(std::move(other.host)),
      container(std::exchange(other.container, nullptr)),
      editor(std::exchange(other.editor, nullptr)),
      processId(std::exchange(other.processId, 0)),
      process(std::exchange(other.process, nullptr)),
      keyboardHook(std::exchange(other.keyboardHook, nullptr)),
      mouseHook(std::exchange(other.mouseHook, nullptr)),
      close(std::exchange(other.close, nullptr)) {}

Viewer& Viewer::operator=(Viewer&& other) noexcept {
    if (this != &other) {
        Release();
        host = std::move(other.host);
        container = std::exchange(other.container, nullptr);
        editor = std::exchange(other.editor, nullptr);
        processId = std::exchange(other.processId, 0);
        process = std::exchange(other.process, nullptr);
        keyboardHook = std::exchange(other.keyboardHook, nullptr);
        mouseHook = std::exchange(other.mouseHook, nullptr);
        close = std::exchange(other.close, nullptr);
    }
    return *this;
}

void Viewer::Release() {
    if (container && IsWindow(container) && close)
        close(container);
    container = nullptr;
    host = HostWindows();
    if (process)
        CloseHandle(process);
    process = nullptr;
}

bool Viewer::WaitForEditorExit(DWORD timeoutMs) const {
    if (process == nullptr)
        return false;
    // The host thread pumps meanwhile: an editor that is still a child of one of our
    // windows may send to this thread while it ends.
    if (!PumpUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, timeoutMs))
        return false;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code == 0;
}

void ViewerTest::SetUp() {
    StandInTest::SetUp();
    if (HasFatalFailure())
        return;
    InstallStandInEditor(plugin_.directory);
    ClearRecorded();
}

Viewer ViewerTest::Open(ViewerMode mode, const wchar_t* hostClass) {
    Viewer viewer;
    viewer.close = plugin_.listCloseWindow;
    viewer.host = mode == ViewerMode::kQuickView ? CreateQuickView(hostClass) : CreateStandAloneLister();
    NameWindow(viewer.host.lister, "lister");
    if (viewer.host.main)
        NameWindow(viewer.host.main, "host");
    gLastKeyboardHook = nullptr;
    gLastMouseHook = nullptr;
    {
        ScopedImport hooks(plugin_.module, "USER32.dll", "SetWindowsHookExW",
                           reinterpret_cast<void*>(&RecordSetWindowsHookEx));
        viewer.container = plugin_.listLoadW(viewer.host.lister, file_.data(), 0);
    }
    viewer.keyboardHook = gLastKeyboardHook;
    viewer.mouseHook = gLastMouseHook;
    if (viewer.container == nullptr) {
        ADD_FAILURE() << "ListLoadW declined the file";
        return viewer;
    }
    NameWindow(viewer.container, "container");
    viewer.editor = EmbeddedEditorOf(viewer.container);
    if (viewer.editor == nullptr) {
        ADD_FAILURE() << "the container holds no editor window";
        return viewer;
    }
    NameWindow(viewer.editor, "editor");
    GetWindowThreadProcessId(viewer.editor, &viewer.processId);
    viewer.process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, viewer.processId);
    EXPECT_NE(viewer.process, nullptr) << "the editor process " << viewer.processId << " cannot be opened";
    return viewer;
}

RecordingFakes::RecordingFakes(HMODULE module) {
    gVisibleWhenAskedToClose = false;
    struct Binding {
        const char* dll;
        const char* function;
        void* fake;
    };
    const Binding bindings[] = {
        {"USER32.dll", "SendMessageW", reinterpret_cast<void*>(&RecordSendMessage)},
        {"USER32.dll", "SendMessageTimeoutW", reinterpret_cast<void*>(&RecordSendMessageTimeout)},
        {"USER32.dll", "PostMessageW", reinterpret_cast<void*>(&RecordPostMessage)},
        {"USER32.dll", "GetActiveWindow", reinterpret_cast<void*>(&RecordGetActiveWindow)},
        {"USER32.dll", "ShowWindow", reinterpret_cast<void*>(&RecordShowWindow)},
        {"USER32.dll", "CloseWindow", reinterpret_cast<void*>(&RecordCloseWindow)},
        {"USER32.dll", "UnhookWindowsHookEx", reinterpret_cast<void*>(&RecordUnhookWindowsHookEx)},
        {"USER32.dll", "DestroyWindow", reinterpret_cast<void*>(&RecordDestroyWindow)},
        {"ADVAPI32.dll", "RegDeleteKeyW", reinterpret_cast<void*>(&RecordRegDeleteKey)},
    };
    for (const Binding& binding : bindings) {
        imports_.push_back(std::make_unique<ScopedImport>(module, binding.dll, binding.function, binding.fake));
        EXPECT_NE(imports_.back()->original(), nullptr) << binding.function << " is not imported by the plug-in";
    }
}

bool VisibleWhenAskedToClose() {
    return gVisibleWhenAskedToClose;
}

const std::vector<HHOOK>& InstalledHooks() {
    return gInstalledHooks;
}

const std::vector<HHOOK>& RemovedHooks() {
    return gRemovedHooks;
}

std::vector<ULONG_PTR> OpenHandleValues() {
    std::vector<ULONG_PTR> values;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            values.push_back(value);
    }
    return values;
}

std::string HandleKind(ULONG_PTR value) {
    // NtQueryObject with ObjectTypeInformation (2): a UNICODE_STRING with the type name first.
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    alignas(8) BYTE buffer[1024] = {};
    if (query == nullptr || query(reinterpret_cast<HANDLE>(value), 2, buffer, sizeof buffer, nullptr) < 0)
        return "?";
    struct Name {
        USHORT length;
        USHORT capacity;
        const wchar_t* text;
    };
    const Name* name = reinterpret_cast<const Name*>(buffer);
    std::string kind = name->text ? ToUtf8(std::wstring(name->text, name->length / sizeof(wchar_t))) : "?";
    if (kind == "Thread") {
        HANDLE thread = reinterpret_cast<HANDLE>(value);
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        char detail[96];
        std::snprintf(detail, sizeof detail, " %lu of process %lu, %s", GetThreadId(thread),
                      GetProcessIdOfThread(thread), code == STILL_ACTIVE ? "running" : "ended");
        kind += detail;
    }
    return kind;
}

int CountOwnWindows() {
    int count = 0;
    EnumWindows(CountTopLevelAndDescendants, reinterpret_cast<LPARAM>(&count));
    for (HWND wnd = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); wnd;
         wnd = FindWindowExW(HWND_MESSAGE, wnd, nullptr, nullptr))
        CountTopLevelAndDescendants(wnd, reinterpret_cast<LPARAM>(&count));
    return count;
}

HWND ParseLoggedWindow(const std::string& hex) {
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::stoull(hex, nullptr, 16)));
}
