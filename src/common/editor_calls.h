// Calls that cross into the editor's thread. The editor is another program and may stop
// answering at any moment; every such call says how long the host's thread may wait.
#pragma once

#include <windows.h>

// Sends a message and waits at most timeoutMs for the editor to handle it; returns at once
// when the editor's thread counts as hung (no message retrieved for 5 s). True when the
// message was handled. A send that timed out may still be delivered later.
bool SendMessageWithin(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam, UINT timeoutMs);

// Whether the window's thread handles a message within timeoutMs: a window call that
// crosses into that thread (moving, showing, focusing) is made only after this said yes.
bool AnswersWithin(HWND wnd, UINT timeoutMs);
