// A hung editor inside the viewer: its window kept out of the host's painting, and the note
// that says so, with Wait and End Velnote.
#pragma once

#include <windows.h>

void RegisterHungNoteClass();  // the note and its buttons

// Painting a window of a thread that reads no messages waits for that thread, and a host that
// repaints its windows with their children at once would wait with it. While the editor does
// not answer, the holder is not drawn; once it answers, the editor is drawn again.
void HoldEditorPainting(HWND container);
void ResumeEditorPainting(HWND container);
bool EditorPaintingHeld(HWND container);

// The container's hang watch: shows the note once the editor counts as hung, shows it again
// when a Wait has run out, and takes it away once the editor answers. Waits on nothing.
void WatchForHungEditor(HWND container);
// Keeps the note in the middle of the viewer when the container changes size.
void PlaceHungNote(HWND container);
