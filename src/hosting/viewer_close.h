// Closing the editor of a viewer: asked once, given the time to settle, then either gone or
// given back to the desktop. What cannot finish while the host waits goes on in a hidden closer
// window of the plug-in's own, which takes the editor's holder out of the host's windows; an
// editor that keeps its window leaves the host's windows before the host gets its thread back.
#pragma once

#include <windows.h>

// Closes the viewer whose container holds the editor; the container is destroyed at once.
// Returns within 3 s unless the editor asks its user a question about the close.
void CloseViewer(HWND container);
// The container is being destroyed with the editor still inside (the host did not close the
// viewer): the editor is taken out, in its holder, and closed as CloseViewer closes it.
void OnContainerDestroyed(HWND container);
