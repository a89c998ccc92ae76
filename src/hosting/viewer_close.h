// Closing the editor of a viewer: asked once, given the time to settle, then either gone or
// given back to the desktop. An editor that keeps its window leaves the host's windows as soon
// as it has answered, minimised; what cannot finish while the host waits finishes from the
// container's own timer, after the container has left the lister window.
#pragma once

#include <windows.h>

// Closes the viewer whose container holds the editor; the container is destroyed at once
// or, with the editor still inside, once the editor has settled. Returns within 3 s unless
// the editor asks its user a question about the close.
void CloseViewer(HWND container);
// The container's close timer: the close of a container that left the lister goes on.
void ContinueClose(HWND container);
// The container is being destroyed: a close in progress leaves nothing behind, and an
// editor still inside is taken out, in its holder, and closed as CloseViewer closes it.
void OnContainerDestroyed(HWND container);
