// Measures the plug-in of this program's bitness against the stand-in editor of the same
// bitness, side by side in one run: opening a viewer against the editor starting on its
// own (until its main window exists, and until that window has answered a message) and
// against a minimal embedder, the reaction to an arrow key during the wait, closing it, one
// hook call against the platform's CallNextHookEx, and the size and imports of the release
// file. It prints ratios with the medians they come from; it passes or fails nothing.
// scripts/bench.sh runs the 64-bit and the 32-bit program one after the other.
//
//   velnote_bench.exe [--rounds N] [--calls N]
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "common/names.h"
#include "support/captured_procs.h"
#include "support/editor.h"
#include "support/host_windows.h"
#include "support/iat.h"
#include "support/plugin.h"

namespace {

constexpr double kFootprintTargetBytes = 48 * 1024;
constexpr double kOpenTarget = 1.10;
constexpr double kEmbedderGoal = 1.05;
constexpr double kReadyGoal = 1.15;
constexpr double kArrowReactionGoalMs = 5;
constexpr DWORD kArrowPressDelayMs = 10;  // after ListLoadW's CreateProcessW returned: inside the wait
constexpr double kWaitLimitMicroseconds = 10e6;
constexpr DWORD kProcessEndLimitMs = 10000;
constexpr DWORD kSettleMs = 100;  // between runs, so that one editor's exit does not overlap the next start
constexpr size_t kKeystrokeBatches = 15;
#ifdef _WIN64
constexpr char kReleaseFile[] = VELNOTE_WLX64;
#else
constexpr char kReleaseFile[] = VELNOTE_WLX32;
#endif

double gTicksPerMicrosecond = 0;
bool gFaulty = false;  // a measurement could not be taken as intended; the exit code says so

double Microseconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / gTicksPerMicrosecond;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The middle half of the values, in milliseconds, for judging a median of few runs.
std::string Quartiles(std::vector<double> values) {
    if (values.empty())
        return "none";
    std::sort(values.begin(), values.end());
    char text[64];
    std::snprintf(text, sizeof text, "%.0f-%.0f ms", values[values.size() / 4] / 1000,
                  values[(values.size() * 3) / 4] / 1000);
    return text;
}

// The order of one round's kinds, a new one each round from a fixed seed: each kind follows
// every other, so that what one leaves behind (an editor still ending, a key just typed) weighs
// on all alike, and two runs draw the same orders.
std::vector<size_t> RoundOrder(size_t kinds, std::mt19937& random) {
    std::vector<size_t> order(kinds);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    return order;
}

void Fault(const char* what) {
    std::printf("FAULT     %s\n", what);
    gFaulty = true;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

// ---- The machine -------------------------------------------------------------------

std::string CpuModel() {
    // Wine maps the Linux root to Z:, so the kernel's own description is readable here.
    std::string info = ReadFileBytes(L"Z:\\proc\\cpuinfo");
    size_t at = info.find("model name");
    if (at == std::string::npos)
        return "unknown CPU";
    at = info.find(':', at);
    size_t end = info.find('\n', at);
    return info.substr(at + 2, end - at - 2);
}

std::string WineVersion() {
    using GetVersionFunction = const char*(CDECL*)();
    auto getVersion = reinterpret_cast<GetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return getVersion ? std::string("Wine ") + getVersion() : "not Wine";
}

// Other work on the machine slows the editors' start-up and widens the spread.
std::string LoadAverage() {
    std::string load = ReadFileBytes(L"Z:\\proc\\loadavg");
    size_t end = load.find(' ', load.find(' ', load.find(' ') + 1) + 1);
    return end == std::string::npos ? "unknown" : load.substr(0, end);
}

void PrintMachine() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::printf("Velnote benchmark, %04u-%02u-%02u %02u:%02u UTC; %lu processors, %s; %s; load average %s\n",
                now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, system.dwNumberOfProcessors,
                CpuModel().c_str(), WineVersion().c_str(), LoadAverage().c_str());
}

// ---- Open and close ------------------------------------------------------------------

// Waits for a process while this thread's messages are handled: the embedded editor
// sends messages to the host thread while it closes. Returns false after the limit.
bool WaitForProcessEnd(HANDLE process) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kProcessEndLimitMs)
            return false;
        DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, kProcessEndLimitMs - elapsed, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
            return true;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

enum class Waiting { kSpinning, kSleeping };

// ListLoadW installs the editor's hooks right after its window wait and the menu trimming: a
// pass-through on SetWindowsHookExW notes when, to split ListLoadW into the wait and the
// embedding (its own key hook, installed before the wait, does not count). It adds one
// indirect call and one clock read to a call of some 100 ms.
double gFirstHookCall = 0;

// The time ListLoadW spends in the calls that hold the keys typed meanwhile: releasing the
// arrow keys (their key state), installing and removing the low-level key hook, taking keys
// out of the queue, and giving keys back.
std::map<std::string, double> gHeldKeysCalls;  // by function

template <typename Call>
auto TimedForTheKeys(const char* function, bool forTheKeys, Call call) {
    const double start = Microseconds();
    auto result = call();
    if (forTheKeys)
        gHeldKeysCalls[function] += Microseconds() - start;
    return result;
}

HHOOK WINAPI NotingSetWindowsHookExW(int kind, HOOKPROC proc, HINSTANCE module, DWORD thread) {
    if (gFirstHookCall == 0 && kind == WH_KEYBOARD)
        gFirstHookCall = Microseconds();
    return TimedForTheKeys("SetWindowsHookExW", kind == WH_KEYBOARD_LL,
                           [&] { return SetWindowsHookExW(kind, proc, module, thread); });
}
BOOL WINAPI KeyTimedUnhookWindowsHookEx(HHOOK hook) {
    return TimedForTheKeys("UnhookWindowsHookEx", true, [&] { return UnhookWindowsHookEx(hook); });
}
BOOL WINAPI KeyTimedPeekMessageW(LPMSG msg, HWND wnd, UINT first, UINT last, UINT remove) {
    return TimedForTheKeys("PeekMessageW", first == WM_KEYFIRST,
                           [&] { return PeekMessageW(msg, wnd, first, last, remove); });
}
SHORT WINAPI KeyTimedGetAsyncKeyState(int key) {
    return TimedForTheKeys("GetAsyncKeyState", true, [&] { return GetAsyncKeyState(key); });
}
UINT WINAPI KeyTimedSendInput(UINT count, LPINPUT inputs, int size) {
    return TimedForTheKeys("SendInput", true, [&] { return SendInput(count, inputs, size); });
}

struct OpenSamples {
    std::vector<double> startSleeping;  // CreateProcessW until the main window exists, this thread sleeping between looks
    std::vector<double> startReady;     // of the same runs: CreateProcessW until the window has answered WM_NULL
    std::vector<double> startSpinning;  // the same, this thread looking without pause
    std::vector<double> bareClose;      // WM_CLOSE posted until the bare editor process ended
    std::vector<double> listLoad;       // ListLoadW, call to return
    std::vector<double> listLoadWait;   // ListLoadW called until it installs the hooks
    std::vector<double> heldKeysCalls;  // ListLoadW's time in the calls that hold the keys
    std::map<std::string, std::vector<double>> heldKeysCallsBy;  // the same, by function
    std::vector<double> closeReturn;    // ListCloseWindow, call to return
    std::vector<double> closeEnded;     // ListCloseWindow called until the editor process ended
    std::vector<double> minimalEmbed;   // the minimal embedder: CreateProcessW until the editor is its child
    std::vector<double> listLoadBefore;  // ListLoadW called until its CreateProcessW
    std::vector<double> listLoadStart;   // its CreateProcessW until the editor's first answer
    std::vector<double> listLoadAfter;   // that answer until ListLoadW returned
    std::vector<double> minimalStart;    // the same two of the minimal embedder
    std::vector<double> minimalAfter;
    std::vector<double> arrowReaction;  // an arrow key pressed during the wait until ListLoadW returned
    std::vector<double> arrowNoticed;   // the same key until the give-up's first platform call
    std::map<std::string, std::vector<double>> giveUpSteps;  // each call of the give-up, "N. name"
    std::vector<double> hangLook;       // one look of the container's hang watch over an editor that answers
};

struct Setup {
    Plugin plugin;
    std::wstring editor;
    std::wstring viewed;
};

// The editor started as the plug-in starts it: same file, command line and start-up information.
bool StartEditorAsThePluginDoes(const Setup& setup, PROCESS_INFORMATION& process) {
    wchar_t commandLine[512];
    std::swprintf(commandLine, 512, L"Velnote.exe  /B+ \"%ls\"", setup.viewed.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESIZE | STARTF_USEPOSITION | STARTF_FORCEOFFFEEDBACK;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    return CreateProcessW(setup.editor.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process) != 0;
}

// The editor started as the plug-in starts it, but by this program and with nothing embedded.
void RunBareEditor(const Setup& setup, Waiting waiting, OpenSamples& samples) {
    PROCESS_INFORMATION process = {};
    double start = Microseconds();
    if (!StartEditorAsThePluginDoes(setup, process)) {
        Fault("CreateProcessW of the bare editor failed");
        return;
    }
    HWND window = nullptr;
    while ((window = TopLevelWindowOf(process.dwProcessId)) == nullptr &&
           Microseconds() - start < kWaitLimitMicroseconds) {
        if (waiting == Waiting::kSleeping)
            Sleep(1);
    }
    double started = Microseconds() - start;
    CloseHandle(process.hThread);
    if (window == nullptr) {
        Fault("the bare editor showed no window within 10 s");
        TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hProcess);
        return;
    }
    (waiting == Waiting::kSleeping ? samples.startSleeping : samples.startSpinning).push_back(started);
    // The plug-in has to talk to the editor (menus, hooks, re-parenting, two commands), so the
    // editor's readiness to answer a sent message is the limit that no viewer can beat.
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kProcessEndLimitMs, &answer))
        Fault("the bare editor did not answer WM_NULL within 10 s");
    else if (waiting == Waiting::kSleeping)
        samples.startReady.push_back(Microseconds() - start);

    // Closed the way a user closes it; timed as the plug-in's close is, to the process's end.
    Sleep(kSettleMs);
    start = Microseconds();
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForProcessEnd(process.hProcess)) {
        samples.bareClose.push_back(Microseconds() - start);
    } else {
        Fault("the bare editor did not end within 10 s of WM_CLOSE");
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hProcess);
}

// ListLoadW split where the editor's start-up begins and ends: CreateProcessW's call and the
// editor's first answer to WM_NULL. Between the two the editor starts, which varies from start to
// start by more than the whole of what the plug-in adds; before and after, the time is the
// plug-in's own, set against what the minimal embedder does after its editor's answer.
volatile LONG gEditorStarted = 0;
double gStartCalled = 0;
double gFirstAnswer = 0;

BOOL WINAPI NotingCreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                 LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                                 LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process) {
    gStartCalled = Microseconds();
    BOOL created = CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                                  environment, directory, startup, process);
    InterlockedExchange(&gEditorStarted, 1);
    return created;
}
LRESULT WINAPI NotingSendMessageTimeoutW(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout,
                                         PDWORD_PTR result) {
    LRESULT sent = SendMessageTimeoutW(wnd, message, wParam, lParam, flags, timeout, result);
    if (sent && message == WM_NULL && gFirstAnswer == 0)
        gFirstAnswer = Microseconds();
    return sent;
}

// One viewer in a stand-alone lister window: opened, sized as a host sizes it, left to
// settle, and closed.
void RunViewer(const Setup& setup, OpenSamples& samples) {
    HostWindows host = CreateStandAloneLister();
    std::wstring viewed = setup.viewed;
    HWND container = nullptr;
    double start = 0, opened = 0;
    {
        const std::pair<const char*, void*> noting[] = {
            {"SetWindowsHookExW", reinterpret_cast<void*>(&NotingSetWindowsHookExW)},
            {"UnhookWindowsHookEx", reinterpret_cast<void*>(&KeyTimedUnhookWindowsHookEx)},
            {"PeekMessageW", reinterpret_cast<void*>(&KeyTimedPeekMessageW)},
            {"GetAsyncKeyState", reinterpret_cast<void*>(&KeyTimedGetAsyncKeyState)},
            {"SendInput", reinterpret_cast<void*>(&KeyTimedSendInput)},
        };
        std::vector<std::unique_ptr<ScopedImport>> bound;
        for (const auto& [function, fake] : noting)
            bound.push_back(std::make_unique<ScopedImport>(setup.plugin.module, "USER32.dll", function, fake));
        bound.push_back(std::make_unique<ScopedImport>(setup.plugin.module, "USER32.dll", "SendMessageTimeoutW",
                                                       reinterpret_cast<void*>(&NotingSendMessageTimeoutW)));
        bound.push_back(std::make_unique<ScopedImport>(setup.plugin.module, "KERNEL32.dll", "CreateProcessW",
                                                       reinterpret_cast<void*>(&NotingCreateProcessW)));
        gStartCalled = gFirstAnswer = 0;
        gFirstHookCall = 0;
        gHeldKeysCalls.clear();
        start = Microseconds();
        container = setup.plugin.listLoadW(host.lister, viewed.data(), 0);
        opened = Microseconds() - start;
    }
    double heldKeysCalls = 0;
    for (const auto& [function, microseconds] : gHeldKeysCalls) {
        heldKeysCalls += microseconds;
        samples.heldKeysCallsBy[function].push_back(microseconds);
    }
    samples.heldKeysCalls.push_back(heldKeysCalls);
    if (container == nullptr) {
        Fault("ListLoadW declined");
        return;
    }
    samples.listLoad.push_back(opened);
    samples.listLoadWait.push_back(gFirstHookCall - start);
    samples.listLoadBefore.push_back(gStartCalled - start);
    samples.listLoadStart.push_back(gFirstAnswer - gStartCalled);
    samples.listLoadAfter.push_back(start + opened - gFirstAnswer);

    RECT client;
    GetClientRect(host.lister, &client);
    MoveWindow(container, 0, 0, client.right, client.bottom, TRUE);
    PumpFor(kSettleMs);

    // The hang watch's look, as the container's timer makes it, called directly.
    constexpr int kHangLooks = 100;
    auto procedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(container, GWLP_WNDPROC));
    start = Microseconds();
    for (int look = 0; look < kHangLooks; ++look)
        CallWindowProcW(procedure, container, WM_TIMER, kHangWatchTimer, 0);
    samples.hangLook.push_back((Microseconds() - start) / kHangLooks);

    DWORD editorId = 0;
    GetWindowThreadProcessId(GetWindow(GetWindow(container, GW_CHILD), GW_CHILD), &editorId);  // editor in the holder
    HANDLE editor = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, editorId);
    if (editor == nullptr) {
        Fault("the embedded editor's process could not be opened");
        setup.plugin.listCloseWindow(container);
        return;
    }
    start = Microseconds();
    setup.plugin.listCloseWindow(container);
    samples.closeReturn.push_back(Microseconds() - start);
    if (WaitForProcessEnd(editor)) {
        samples.closeEnded.push_back(Microseconds() - start);
    } else {
        Fault("the editor did not end within 10 s of ListCloseWindow");
        TerminateProcess(editor, 1);
    }
    CloseHandle(editor);
}

// The least any plug-in of this kind must do: start the editor, wait pausing for its window,
// wait until it answers, and make it a maximised WS_CHILD of a window of its own.
void RunMinimalEmbedder(const Setup& setup, OpenSamples& samples) {
    HostWindows host = CreateStandAloneLister();
    PROCESS_INFORMATION process = {};
    double start = Microseconds();
    if (!StartEditorAsThePluginDoes(setup, process)) {
        Fault("CreateProcessW of the minimal embedder's editor failed");
        return;
    }
    CloseHandle(process.hThread);
    HWND window = nullptr;
    while ((window = TopLevelWindowOf(process.dwProcessId)) == nullptr &&
           Microseconds() - start < kWaitLimitMicroseconds)
        Sleep(1);
    DWORD_PTR answer = 0;
    if (window == nullptr ||
        !SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kProcessEndLimitMs, &answer)) {
        Fault("the minimal embedder's editor showed no answering window within 10 s");
        TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hProcess);
        return;
    }
    const double answered = Microseconds();
    SetParent(window, host.lister);
    SetWindowLongPtrW(window, GWL_STYLE, WS_CHILD);
    ShowWindow(window, SW_SHOWMAXIMIZED);
    const double embedded = Microseconds();
    samples.minimalEmbed.push_back(embedded - start);
    samples.minimalStart.push_back(answered - start);
    samples.minimalAfter.push_back(embedded - answered);

    PumpFor(kSettleMs);
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (!WaitForProcessEnd(process.hProcess)) {
        Fault("the minimal embedder's editor did not end within 10 s of WM_CLOSE");
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hProcess);
}

// A Down key pressed from another thread while ListLoadW waits for an editor that never opens
// its window; timed from the key to ListLoadW's return, and each platform call of the give-up
// that can cost time on a display, which splits the reaction into noticing the key and each
// step of giving up the launch.
volatile double gArrowPressed = 0;
struct TimedCall {
    const char* name;
    double start, end;
};
std::vector<TimedCall> gGiveUpCalls;

template <typename Call>
auto TimedAfterTheKey(const char* name, Call call) {
    const bool pressed = gArrowPressed != 0;
    const double start = Microseconds();
    auto result = call();
    if (pressed)
        gGiveUpCalls.push_back({name, start, Microseconds()});
    return result;
}
BOOL WINAPI TimedSetForegroundWindow(HWND wnd) {
    return TimedAfterTheKey("SetForegroundWindow", [&] { return SetForegroundWindow(wnd); });
}
BOOL WINAPI TimedDestroyWindow(HWND wnd) {
    return TimedAfterTheKey("DestroyWindow", [&] { return DestroyWindow(wnd); });
}
BOOL WINAPI TimedTerminateProcess(HANDLE process, UINT code) {
    return TimedAfterTheKey("TerminateProcess", [&] { return TerminateProcess(process, code); });
}
UINT WINAPI TimedSendInput(UINT count, LPINPUT inputs, int size) {
    return TimedAfterTheKey("SendInput", [&] { return SendInput(count, inputs, size); });
}
BOOL WINAPI TimedUnhookWindowsHookEx(HHOOK hook) {
    return TimedAfterTheKey("UnhookWindowsHookEx", [&] { return UnhookWindowsHookEx(hook); });
}

DWORD WINAPI PressArrowDuringTheWait(LPVOID) {
    for (DWORD waited = 0; gEditorStarted == 0 && waited < kProcessEndLimitMs; ++waited)
        Sleep(1);
    Sleep(kArrowPressDelayMs);
    gArrowPressed = Microseconds();
    keybd_event(VK_DOWN, 0, 0, 0);
    return 0;
}

void RunArrowAbort(const Setup& setup, OpenSamples& samples) {
    HostWindows host = CreateStandAloneLister();
    std::wstring viewed = setup.viewed;
    SetEnvironmentVariableW(L"VELNOTE_EDITOR_MODE", L"never");
    gArrowPressed = 0;
    gGiveUpCalls.clear();
    gEditorStarted = 0;
    HWND container = nullptr;
    double returned = 0;
    HANDLE presser = CreateThread(nullptr, 0, PressArrowDuringTheWait, nullptr, 0, nullptr);
    {
        const std::pair<const char*, void*> timed[] = {
            {"SetForegroundWindow", reinterpret_cast<void*>(&TimedSetForegroundWindow)},
            {"DestroyWindow", reinterpret_cast<void*>(&TimedDestroyWindow)},
            {"SendInput", reinterpret_cast<void*>(&TimedSendInput)},
            {"UnhookWindowsHookEx", reinterpret_cast<void*>(&TimedUnhookWindowsHookEx)},
        };
        std::vector<std::unique_ptr<ScopedImport>> timing;
        for (const auto& [function, fake] : timed)
            timing.push_back(std::make_unique<ScopedImport>(setup.plugin.module, "USER32.dll", function, fake));
        ScopedImport terminating(setup.plugin.module, "KERNEL32.dll", "TerminateProcess",
                                 reinterpret_cast<void*>(&TimedTerminateProcess));
        ScopedImport started(setup.plugin.module, "KERNEL32.dll", "CreateProcessW",
                             reinterpret_cast<void*>(&NotingCreateProcessW));
        container = setup.plugin.listLoadW(host.lister, viewed.data(), 0);
        returned = Microseconds();
    }
    WaitForSingleObject(presser, INFINITE);
    CloseHandle(presser);
    keybd_event(VK_DOWN, 0, KEYEVENTF_KEYUP, 0);
    // The key-up is read here, so that no launch after this one finds a key to hold.
    PumpFor(kSettleMs);
    SetEnvironmentVariableW(L"VELNOTE_EDITOR_MODE", nullptr);
    if (container != nullptr || gArrowPressed == 0 || returned < gArrowPressed) {
        Fault("the arrow key did not give up the launch");
        if (container)
            setup.plugin.listCloseWindow(container);
    } else {
        samples.arrowReaction.push_back(returned - gArrowPressed);
        if (!gGiveUpCalls.empty())
            samples.arrowNoticed.push_back(gGiveUpCalls.front().start - gArrowPressed);
        for (size_t i = 0; i < gGiveUpCalls.size(); ++i)
            samples.giveUpSteps[std::to_string(i + 1) + ". " + gGiveUpCalls[i].name].push_back(gGiveUpCalls[i].end -
                                                                                                 gGiveUpCalls[i].start);
    }
    if (!EndProcesses(RunningStandInProcesses(), 2000).empty())
        Fault("the editor of a launch given up on an arrow key was still running");
}

Setup PrepareViewerSetup() {
    Setup setup;
    setup.plugin = LoadPluginCopy();
    if (setup.plugin.module == nullptr)
        return setup;
    WriteFileBytes(setup.plugin.directory + L"velnote.ini", "[Options]\r\n");
    setup.editor = InstallStandInEditor(setup.plugin.directory);
    setup.viewed = setup.plugin.directory + L"viewed.txt";
    WriteFileBytes(setup.viewed, "int main() { return 0; }\r\n");
    return setup;
}

// How long one look of the sleeping wait lasts, for reading its medians: the window is
// seen up to one look late.
double SleepingLookMicroseconds() {
    constexpr int kLooks = 200;
    double start = Microseconds();
    for (int i = 0; i < kLooks; ++i) {
        TopLevelWindowOf(0);
        Sleep(1);
    }
    return (Microseconds() - start) / kLooks;
}

void MeasureOpenAndClose(int rounds) {
    Setup setup = PrepareViewerSetup();
    if (setup.plugin.module == nullptr) {
        Fault("the plug-in could not be loaded");
        return;
    }
    OpenSamples warmUp;  // the first start of each kind reads files from disk: not counted
    RunBareEditor(setup, Waiting::kSleeping, warmUp);
    RunViewer(setup, warmUp);
    RunMinimalEmbedder(setup, warmUp);

    OpenSamples samples;
    std::mt19937 random(1);
    for (int round = 0; round < rounds; ++round) {
        for (size_t which : RoundOrder(5, random)) {
            switch (which) {
            case 0: RunBareEditor(setup, Waiting::kSleeping, samples); break;
            case 1: RunBareEditor(setup, Waiting::kSpinning, samples); break;
            case 2: RunMinimalEmbedder(setup, samples); break;
            case 3: RunArrowAbort(setup, samples); break;
            default: RunViewer(setup, samples); break;
            }
            Sleep(kSettleMs);
        }
    }
    double look = SleepingLookMicroseconds();

    std::vector<DWORD> left = RunningStandInProcesses();
    if (!left.empty())
        Fault("stand-in editors were still running after every viewer was closed");
    EndProcesses(left, 1000);
    UnloadPlugin(setup.plugin);

    double listLoad = Median(samples.listLoad) / 1000;
    double sleeping = Median(samples.startSleeping) / 1000;
    double ready = Median(samples.startReady) / 1000;
    double spinning = Median(samples.startSpinning) / 1000;
    double bareClose = Median(samples.bareClose) / 1000;
    double closeReturn = Median(samples.closeReturn) / 1000;
    double closeEnded = Median(samples.closeEnded) / 1000;
    std::printf("open      ListLoadW / editor start-up:            %.2f  (target %.2f)\n", listLoad / sleeping,
                kOpenTarget);
    std::printf("          ListLoadW %.1f ms (middle half %s); editor start-up %.1f ms (%s), from\n"
                "          CreateProcessW to its window while this process sleeps 1 ms between looks (%.2f ms a\n"
                "          look); medians of %zu and %zu runs, interleaved\n",
                listLoad, Quartiles(samples.listLoad).c_str(), sleeping, Quartiles(samples.startSleeping).c_str(),
                look / 1000, samples.listLoad.size(), samples.startSleeping.size());
    std::printf("open      ListLoadW / editor ready (its window answered WM_NULL): %.2f  (goal %.2f)\n"
                "          editor ready %.1f ms (%s), of the same start-ups\n",
                listLoad / ready, kReadyGoal, ready, Quartiles(samples.startReady).c_str());
    double embedder = Median(samples.minimalEmbed) / 1000;
    std::printf("open      ListLoadW / minimal embedder (window, answer, WS_CHILD, maximised): %.2f  (goal %.2f)\n"
                "          minimal embedder %.1f ms (%s); median of %zu runs, interleaved\n",
                listLoad / embedder, kEmbedderGoal, embedder, Quartiles(samples.minimalEmbed).c_str(),
                samples.minimalEmbed.size());
    const double before = Median(samples.listLoadBefore) / 1000, after = Median(samples.listLoadAfter) / 1000;
    const double minimalAfter = Median(samples.minimalAfter) / 1000;
    const double own = before + after - minimalAfter;
    std::printf("          split at CreateProcessW and at the editor's first answer: ListLoadW %.2f ms before it,\n"
                "          the editor starting %.1f ms (%s), %.2f ms after its answer; the minimal embedder's\n"
                "          editor starting %.1f ms (%s), %.2f ms after its answer\n",
                before, Median(samples.listLoadStart) / 1000, Quartiles(samples.listLoadStart).c_str(), after,
                Median(samples.minimalStart) / 1000, Quartiles(samples.minimalStart).c_str(), minimalAfter);
    std::printf("          ListLoadW's own time beyond the minimal embedder's (before CreateProcessW and after the\n"
                "          answer): %.2f ms = %.3f of the minimal embedder; the editor's start-up under each is above\n",
                own, own / embedder);
    std::vector<double> reaction = samples.arrowReaction;
    std::sort(reaction.begin(), reaction.end());
    std::printf("abort     arrow key during the wait until ListLoadW returned: median %.2f ms, longest %.2f ms"
                " (goal %.0f ms); %zu runs\n",
                Median(reaction) / 1000, reaction.empty() ? 0.0 : reaction.back() / 1000, kArrowReactionGoalMs,
                reaction.size());
    std::printf("          of which noticing the key (until the give-up's first call): median %.2f ms\n",
                Median(samples.arrowNoticed) / 1000);
    std::string steps;
    for (const auto& [step, durations] : samples.giveUpSteps) {
        char text[96];
        std::snprintf(text, sizeof text, "%s%s %.2f ms (%zu)", steps.empty() ? "" : ", ", step.c_str(),
                      Median(durations) / 1000, durations.size());
        steps += text;
    }
    std::printf("          each call of the give-up, median (runs): %s\n", steps.c_str());
    double wait = Median(samples.listLoadWait) / 1000;
    std::printf("          ListLoadW's own wait (call to its WH_KEYBOARD SetWindowsHookExW) %.1f ms (%s); / start-up: %.2f\n",
                wait, Quartiles(samples.listLoadWait).c_str(), wait / sleeping);
    std::printf("          ListLoadW / editor start-up, both polling without pause: %.2f\n", listLoad / spinning);
    std::printf("keys      ListLoadW's time in the calls that hold the keys (none typed): median %.3f ms, longest\n"
                "          %.3f ms; / ListLoadW: %.4f\n",
                Median(samples.heldKeysCalls) / 1000,
                samples.heldKeysCalls.empty() ? 0.0
                                              : *std::max_element(samples.heldKeysCalls.begin(), samples.heldKeysCalls.end()) / 1000,
                Median(samples.heldKeysCalls) / 1000 / listLoad);
    std::string byFunction;
    for (const auto& [function, durations] : samples.heldKeysCallsBy) {
        char text[96];
        std::snprintf(text, sizeof text, "%s%s %.3f ms", byFunction.empty() ? "" : ", ", function.c_str(),
                      Median(durations) / 1000);
        byFunction += text;
    }
    std::printf("          by function, medians: %s\n", byFunction.c_str());
    std::printf("polling   editor start-up while this process polls without pause / while it sleeps: %.2f\n"
                "          %.1f ms (%s) vs %.1f ms: the spinning wait changes the editor's start-up by %+.1f ms\n"
                "          on %lu cores\n",
                spinning / sleeping, spinning, Quartiles(samples.startSpinning).c_str(), sleeping, spinning - sleeping,
                GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
    std::printf("close     ListCloseWindow returns after %.1f ms; the editor process has ended %.1f ms after the call\n",
                closeReturn, closeEnded);
    std::printf("          call-to-end / bare editor's WM_CLOSE-to-end (%.1f ms): %.2f; medians of %zu and %zu runs\n",
                bareClose, closeEnded / bareClose, samples.closeEnded.size(), samples.bareClose.size());
    const double hangLook = Median(samples.hangLook);
    const double slowest = samples.hangLook.empty() ? 0 : *std::max_element(samples.hangLook.begin(), samples.hangLook.end());
    std::printf("hang      one look of the hang watch over an editor that answers: median %.1f us, slowest viewer %.1f us;\n"
                "          %u looks a second cost the host %.3f ms a second\n",
                hangLook, slowest, 1000 / kHangLookMs, hangLook * (1000 / kHangLookMs) / 1000);
}

// ---- Close ---------------------------------------------------------------------------

// The editor kinds of the close, as the stand-in plays them (VELNOTE_EDITOR_MODE).
struct CloseKind {
    const char* name;
    const wchar_t* mode;
};
const CloseKind kCloseKinds[] = {
    {"destroys its window on WM_CLOSE", L""},
    {"ends its message loop on WM_CLOSE (window goes with its process)", L"endloop:500"},
    {"destroys its window 250 ms after WM_CLOSE returned", L"destroylater:250"},
    {"keeps its window (its user chose Cancel)", L"keep"},
};
constexpr double kCloseGoal = 1.05;    // ListCloseWindow / minimal closer, editor that destroys its window
constexpr double kCloseLimitMs = 50;   // ListCloseWindow, the other editors

// A viewer opened by ListLoadW in a stand-alone lister, with the editor of one kind; null
// container when it did not open.
struct OpenViewer {
    HostWindows host;
    HWND container = nullptr;
    HWND editor = nullptr;
    HANDLE process = nullptr;
};

OpenViewer OpenViewerOfKind(const Setup& setup, const CloseKind& kind) {
    OpenViewer viewer;
    viewer.host = CreateStandAloneLister();
    std::wstring viewed = setup.viewed;
    SetEnvironmentVariableW(L"VELNOTE_EDITOR_MODE", kind.mode);
    viewer.container = setup.plugin.listLoadW(viewer.host.lister, viewed.data(), 0);
    SetEnvironmentVariableW(L"VELNOTE_EDITOR_MODE", nullptr);
    if (viewer.container == nullptr)
        return viewer;
    RECT client;
    GetClientRect(viewer.host.lister, &client);
    MoveWindow(viewer.container, 0, 0, client.right, client.bottom, TRUE);
    PumpFor(kSettleMs);
    viewer.editor = GetWindow(GetWindow(viewer.container, GW_CHILD), GW_CHILD);  // in the holder
    DWORD editorId = 0;
    GetWindowThreadProcessId(viewer.editor, &editorId);
    viewer.process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, editorId);
    return viewer;
}

// The least every viewer close must do: minimise the editor, ask it to close, remove the
// view's two registry keys and destroy the container. The plug-in's hooks on the editor's
// thread are left in place: a closer without hooks has none to remove.
double CloseMinimally(OpenViewer& viewer) {
    double start = Microseconds();
    CloseWindow(viewer.editor);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(viewer.editor, WM_CLOSE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, 2000, &answer);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\DA74\\View64");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\DA74");
    DestroyWindow(viewer.container);
    return Microseconds() - start;
}

// ListCloseWindow, timed on this thread, then the host's own end of the lister window; an
// editor that keeps its window is closed again once the plug-in has brought it forward.
double CloseThroughThePlugin(const Setup& setup, OpenViewer& viewer) {
    double start = Microseconds();
    setup.plugin.listCloseWindow(viewer.container);
    double took = Microseconds() - start;
    viewer.host = HostWindows();
    if (WaitForSingleObject(viewer.process, 0) == WAIT_TIMEOUT && IsWindow(viewer.editor)) {
        PumpUntil([&] { return !IsWindow(viewer.editor) || GetParent(viewer.editor) == nullptr; }, 3000);
        PumpFor(700);
        if (IsWindow(viewer.editor))
            PostMessageW(viewer.editor, WM_CLOSE, 0, 0);
    }
    return took;
}

void MeasureClose(int rounds) {
    Setup setup = PrepareViewerSetup();
    if (setup.plugin.module == nullptr) {
        Fault("the plug-in could not be loaded");
        return;
    }
    constexpr size_t kKinds = sizeof kCloseKinds / sizeof kCloseKinds[0];
    std::vector<double> minimal, plugin[kKinds];
    std::mt19937 random(1);
    for (int round = -1; round < rounds; ++round) {  // round -1 warms up: not counted
        for (size_t which : RoundOrder(kKinds + 1, random)) {  // kind kKinds is the minimal closer
            const CloseKind& kind = kCloseKinds[which == kKinds ? 0 : which];
            OpenViewer viewer = OpenViewerOfKind(setup, kind);
            if (viewer.container == nullptr || viewer.process == nullptr) {
                Fault("a viewer for the close did not open");
                continue;
            }
            double took = which == kKinds ? CloseMinimally(viewer) : CloseThroughThePlugin(setup, viewer);
            if (round >= 0)
                (which == kKinds ? minimal : plugin[which]).push_back(took);
            if (!WaitForProcessEnd(viewer.process)) {
                Fault("an editor did not end within 10 s of its close");
                TerminateProcess(viewer.process, 1);
            }
            CloseHandle(viewer.process);
            PumpFor(kSettleMs);
        }
    }
    EndProcesses(RunningStandInProcesses(), 1000);
    UnloadPlugin(setup.plugin);

    const double least = Median(minimal) / 1000;
    std::printf("close     ListCloseWindow, call to return, stand-alone lister; the minimal closer (minimise,\n"
                "          WM_CLOSE, two registry keys, destroy the container) %.1f ms (%s); medians of %zu runs\n",
                least, Quartiles(minimal).c_str(), minimal.size());
    for (size_t which = 0; which < kKinds; ++which) {
        const double took = Median(plugin[which]) / 1000;
        if (which == 0)
            std::printf("          editor that %s: %.1f ms (%s) = %.2f of the minimal closer (goal %.2f)\n",
                        kCloseKinds[which].name, took, Quartiles(plugin[which]).c_str(), took / least, kCloseGoal);
        else
            std::printf("          editor that %s: %.1f ms (%s) (goal %.0f ms)\n", kCloseKinds[which].name, took,
                        Quartiles(plugin[which]).c_str(), kCloseLimitMs);
    }
}

// ---- Keystroke -----------------------------------------------------------------------

struct ImportCheck {
    int slots = 0;
    std::vector<std::string> foreign;  // "DLL!function" whose slot holds anything but the platform's export
    std::vector<std::pair<std::string, int>> functionsPerDll;
};

// Every import slot of a loaded module compared with what the platform's own module
// exports under that name today: a fake left bound by the capture would be measured in
// place of the platform.
ImportCheck CheckImportsArePlatform(HMODULE module) {
    ImportCheck check;
    auto base = reinterpret_cast<const BYTE*>(module);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; descriptor->Name != 0; ++descriptor) {
        const char* dll = reinterpret_cast<const char*>(base + descriptor->Name);
        check.functionsPerDll.emplace_back(dll, 0);
        HMODULE platform = GetModuleHandleA(dll);
        auto names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
            base + (descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk));
        auto slots = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            std::string name;
            FARPROC real = nullptr;
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                name = "#";
                name += std::to_string(IMAGE_ORDINAL(names->u1.Ordinal));
                real = platform ? GetProcAddress(platform, MAKEINTRESOURCEA(IMAGE_ORDINAL(names->u1.Ordinal))) : nullptr;
            } else {
                auto byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                name = reinterpret_cast<const char*>(byName->Name);
                real = platform ? GetProcAddress(platform, name.c_str()) : nullptr;
            }
            ++check.slots;
            ++check.functionsPerDll.back().second;
            if (real == nullptr || reinterpret_cast<ULONG_PTR>(real) != slots->u1.Function)
                check.foreign.push_back(std::string(dll) + "!" + name);
        }
    }
    return check;
}

HWND WINAPI FakeGetFocus() {
    return nullptr;
}

template <typename Call>
double NanosecondsPerCall(size_t calls, Call call) {
    double start = Microseconds();
    for (size_t i = 0; i < calls; ++i)
        call();
    return (Microseconds() - start) * 1000 / static_cast<double>(calls);
}

void MeasureKeystroke(size_t calls) {
    HostWindows host = CreateStandAloneLister();
    CapturedProcs procs = CaptureProcs(host.lister);
    if (procs.keyboardHook == nullptr || procs.mouseHook == nullptr) {
        Fault("the hook procedures could not be captured");
        ReleaseProcs(procs);
        return;
    }

    // The capture binds its fakes only while ListLoadW runs. That nothing is left bound is
    // checked slot by slot; that the check sees a bound fake is shown with one.
    bool checkSeesFake = false;
    {
        ScopedImport fake(procs.plugin.module, "USER32.dll", "GetFocus", reinterpret_cast<void*>(&FakeGetFocus));
        std::vector<std::string> foreign = CheckImportsArePlatform(procs.plugin.module).foreign;
        checkSeesFake = foreign.size() == 1 && foreign[0] == "USER32.dll!GetFocus";
    }
    ImportCheck imports = CheckImportsArePlatform(procs.plugin.module);
    if (!checkSeesFake)
        Fault("the import check did not see a fake bound on GetFocus");
    for (const std::string& slot : imports.foreign)
        std::printf("FAULT     import slot %s does not hold the platform's function\n", slot.c_str());
    if (!imports.foreign.empty())
        gFaulty = true;

    // As in the editor: the focus on a window inside the container inside the lister, so
    // that the hook's GetParent and GetAncestor walk a real chain.
    SetForegroundWindow(host.lister);
    SetFocus(procs.editor);
    if (GetFocus() != procs.editor)
        Fault("the focus could not be put on the embedded window");

    constexpr LPARAM kKeyAPress = 0x001E0001;  // repeat 1, scan code 0x1E
    MOUSEHOOKSTRUCT move = {};
    GetCursorPos(&move.pt);
    move.hwnd = procs.editor;
    move.wHitTestCode = HTCLIENT;
    auto mouseData = reinterpret_cast<LPARAM>(&move);
    if (procs.keyboardHook(HC_ACTION, 'A', kKeyAPress) != CallNextHookEx(nullptr, HC_ACTION, 'A', kKeyAPress) ||
        procs.mouseHook(HC_ACTION, WM_MOUSEMOVE, mouseData) != CallNextHookEx(nullptr, HC_ACTION, WM_MOUSEMOVE, mouseData))
        Fault("a hook did not pass the call on");

    std::vector<double> keyboard, mouse, next;
    for (size_t batch = 0; batch < kKeystrokeBatches; ++batch) {
        keyboard.push_back(NanosecondsPerCall(calls, [&] { procs.keyboardHook(HC_ACTION, 'A', kKeyAPress); }));
        mouse.push_back(NanosecondsPerCall(calls, [&] { procs.mouseHook(HC_ACTION, WM_MOUSEMOVE, mouseData); }));
        next.push_back(NanosecondsPerCall(calls, [&] { CallNextHookEx(nullptr, HC_ACTION, 'A', kKeyAPress); }));
    }
    ReleaseProcs(procs);

    double nextCall = Median(next);
    std::printf("keystroke KeyboardHookProc('A') / CallNextHookEx:       %.2f  (%.0f ns vs %.0f ns a call)\n",
                Median(keyboard) / nextCall, Median(keyboard), nextCall);
    std::printf("          MouseHookProc(WM_MOUSEMOVE) / CallNextHookEx: %.2f  (%.0f ns a call)\n",
                Median(mouse) / nextCall, Median(mouse));
    std::printf("          medians of %zu batches of %zu direct calls, interleaved; %d of %d import slots hold\n"
                "          the platform's own functions after the capture (a fake bound on GetFocus %s)\n",
                kKeystrokeBatches, calls, imports.slots - static_cast<int>(imports.foreign.size()), imports.slots,
                checkSeesFake ? "was seen" : "was NOT seen");
}

// ---- Footprint -----------------------------------------------------------------------

void MeasureFootprint(const std::wstring& path) {
    std::string name = Narrow(path.substr(path.find_last_of(L'\\') + 1));
    size_t bytes = ReadFileBytes(path).size();
    // Mapped without running it or binding its imports: only its import table is read.
    HMODULE image = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (bytes == 0 || image == nullptr) {
        std::printf("footprint %s: cannot be read or mapped\n", name.c_str());
        gFaulty = true;
        return;
    }
    double size = static_cast<double>(bytes);
    std::printf("footprint %-14s %zu bytes = %.1f KiB; / 48 KiB: %.2f (%s)\n", name.c_str(), bytes, size / 1024,
                size / kFootprintTargetBytes, size <= kFootprintTargetBytes ? "within" : "OVER");
    std::string list;
    int total = 0;
    for (const auto& [dll, functions] : CheckImportsArePlatform(image).functionsPerDll) {
        list += (list.empty() ? "" : ", ") + dll + " " + std::to_string(functions);
        total += functions;
    }
    FreeLibrary(image);
    std::printf("          imports %s (%d functions)\n", list.c_str(), total);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);  // the support code reports through gtest's assertions
    int rounds = 15;
    size_t calls = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--calls") == 0)
            calls = static_cast<size_t>(std::max(1, std::atoi(argv[i + 1])));
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    gTicksPerMicrosecond = static_cast<double>(frequency.QuadPart) / 1e6;
    // Nothing of a test run may steer or slow the editors started here.
    SetEnvironmentVariableW(L"VELNOTE_EDITOR_LOG", nullptr);
    SetEnvironmentVariableW(L"VELNOTE_EDITOR_MODE", nullptr);
    SetEnvironmentVariableW(L"COMMANDER_INI", nullptr);

    PrintMachine();
    bool sameAsRelease = ReadFileBytes(BuiltPluginFile()) == ReadFileBytes(WindowsPath(kReleaseFile));
    std::printf("plug-in   %s (%s the release %s), in a %d-bit process\n", Narrow(BuiltPluginFile()).c_str(),
                sameAsRelease ? "byte for byte" : "NOT the same bytes as", Narrow(kPluginFileName).c_str(),
                static_cast<int>(8 * sizeof(void*)));
    MeasureOpenAndClose(rounds);
    MeasureClose(rounds);
    MeasureKeystroke(calls);
    MeasureFootprint(WindowsPath(kReleaseFile));
    std::fflush(stdout);
    bool failed = gFaulty || testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed();
    if (failed)
        std::printf("The figures above are incomplete: see the faults reported.\n");
    return failed ? 1 : 0;
}
