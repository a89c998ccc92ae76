// The host thread's own waits: they handle none of its input nor posted messages, but answer
// the messages sent to it, so that nothing that sends to the host waits on them (the
// launch's low-level key hook is called that way, and the editor, whose window is joined to
// the host's, sends to the host's windows).
#pragma once

#include <windows.h>

// Waits up to timeoutMs for the object to be signalled (null: for the time alone), returning
// early when a message is sent to this thread, and answers what was sent. True when the
// object was signalled.
bool WaitAnsweringSentMessages(HANDLE object, DWORD timeoutMs);
