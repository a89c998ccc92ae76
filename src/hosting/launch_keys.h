// The keys the user types while ListLoadW starts the editor: held for the host, and given
// back to it once the load is over.
#pragma once

#include <windows.h>

// Starts holding the keys typed while the host or the editor process is in front, and
// takes the keys already waiting in this thread's queue; false when it holds nothing (a
// launch on another thread holds keys, or the hook was refused).
bool HoldKeysDuringLaunch(DWORD editorProcessId);
// Handles the messages sent to this thread, the hook's calls among them.
void AnswerSentMessages();
// True once an arrow key went down while keys were held.
bool HeldArrowKeyPressed();
// The calls below are for a launch for which HoldKeysDuringLaunch returned true.
// Removes the hook; the keys stay held until GiveBackHeldKeys.
void StopHoldingKeys();
// Removes the hook if it is still there and injects the held keys again, in the order typed,
// to whichever window is in front now.
void GiveBackHeldKeys();
