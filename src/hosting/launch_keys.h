// The launch's input: from ListLoadW's call until the viewer is open or given up, the keys the
// user types are the host's. They are held and given back to the host once the load is over,
// and an arrow key typed among them gives the launch up.
#pragma once

#include <windows.h>

// Before the editor starts: releases the arrow keys still down from before, and holds the keys
// already waiting in this thread's queue, after those of the last launch not given back yet.
// None of these gives the launch up: they were typed before ListLoadW was called.
void BeginLaunchInput();
// Once the editor runs: holds the keys typed while the host or the editor is in front, and
// the keys typed since BeginLaunchInput (while the editor was being created), which wait in
// this thread's queue.
void HoldLaunchKeys(DWORD editorProcessId);
// True once an arrow key went down since BeginLaunchInput.
bool ArrowKeyTyped();
// Stops holding keys, before a message the user answers; those held stay held.
void StopHoldingKeys();
// Gives the held keys back to the host as typed: the first right away, the others from the
// host's message loop, each once the host has read the key-down before it, so that each goes
// where it would have gone had it been typed then. Keys typed meanwhile are held after them.
void EndLaunchInput();
