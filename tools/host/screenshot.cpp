// Waiting for the embedded editor to show, and capturing the host window as it shows on
// the screen: the editor's window belongs to another process, so only the screen holds
// the composed picture of both.
#include <vector>

#include "host.h"

// Dispatches the calling thread's messages for a while. A WM_QUIT met on the way is put
// back for the main loop, and ends the wait.
bool PumpMessagesFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

bool WaitForEditorShown(HWND container, DWORD deadlineMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < deadlineMs) {
        if (!IsWindow(container))
            return false;
        HWND editor = EmbeddedEditor(container);
        if (editor != nullptr && IsWindowVisible(editor)) {
            // Visible is not yet painted: the editor paints on its own thread.
            RedrawWindow(container, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
            return PumpMessagesFor(500);
        }
        if (!PumpMessagesFor(20))
            return false;
    }
    return false;
}

bool SaveWindowScreenshot(HWND wnd, const std::wstring& pngFile) {
    RECT rect;
    GetWindowRect(wnd, &rect);
    // Only what lies on the screen can be read from it.
    rect.left = rect.left < 0 ? 0 : rect.left;
    rect.top = rect.top < 0 ? 0 : rect.top;
    const int width = (rect.right < GetSystemMetrics(SM_CXSCREEN) ? rect.right : GetSystemMetrics(SM_CXSCREEN)) - rect.left;
    const int height = (rect.bottom < GetSystemMetrics(SM_CYSCREEN) ? rect.bottom : GetSystemMetrics(SM_CYSCREEN)) - rect.top;
    if (width <= 0 || height <= 0)
        return false;

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (bitmap == nullptr) {
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return false;
    }
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const BOOL copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
    GdiFlush();

    std::vector<unsigned char> bgr(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    const unsigned char* bgrx = static_cast<const unsigned char*>(pixels);
    for (size_t i = 0, count = bgr.size() / 3; i < count; ++i) {
        bgr[i * 3 + 0] = bgrx[i * 4 + 0];
        bgr[i * 3 + 1] = bgrx[i * 4 + 1];
        bgr[i * 3 + 2] = bgrx[i * 4 + 2];
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return copied && WritePng(pngFile, width, height, bgr.data());
}
