#include "support/message_box.h"

MessageBoxWatcher::MessageBoxWatcher() : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread_([this] { Watch(); }) {}

MessageBoxWatcher::~MessageBoxWatcher() {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
}

std::vector<SeenMessageBox> MessageBoxWatcher::Seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

std::vector<std::wstring> MessageBoxWatcher::Texts() const {
    std::vector<std::wstring> texts;
    for (const SeenMessageBox& box : Seen())
        texts.push_back(box.text);
    return texts;
}

// The box's icon is a static control showing the system's hand icon.
static bool ShowsErrorIcon(HWND box) {
    HICON hand = LoadIconW(nullptr, IDI_HAND);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        if (icon != nullptr && icon == hand)
            return true;
    }
    return false;
}

void MessageBoxWatcher::Watch() {
    // A posted IDOK is handled some time later; a box already closed is not read twice.
    while (WaitForSingleObject(stop_, 10) == WAIT_TIMEOUT) {
        for (HWND box = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); box;
             box = FindWindowExW(nullptr, box, L"#32770", nullptr)) {
            DWORD process = 0;
            GetWindowThreadProcessId(box, &process);
            if (process != GetCurrentProcessId() || !IsWindowVisible(box))
                continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                bool known = false;
                for (HWND closed : closed_)
                    known = known || closed == box;
                if (known)
                    continue;
            }
            SeenMessageBox seen;
            wchar_t text[1024] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            seen.text = text;
            wchar_t caption[256] = {};
            GetWindowTextW(box, caption, 256);
            seen.caption = caption;
            seen.owner = GetWindow(box, GW_OWNER);
            seen.errorIcon = ShowsErrorIcon(box);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(seen);
                closed_.push_back(box);
            }
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
}
