#include "common/waits.h"

bool WaitAnsweringSentMessages(HANDLE object, DWORD timeoutMs) {
    const DWORD woken =
        MsgWaitForMultipleObjects(object != nullptr ? 1 : 0, &object, FALSE, timeoutMs, QS_SENDMESSAGE);
    // A peek limited to sent messages handles them and takes nothing out of the queue.
    MSG pending;
    PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    return object != nullptr && woken == WAIT_OBJECT_0;
}
