#pragma once
// Ctrl+C, Ctrl+Break, closing the console and shutting the system down, as the console sends
// them. PrepareProcess installs the handler; it is here for a test to call as the system would.
#include "core/windows/WindowsHeaders.h"

// How long a console that is being closed waits for the orderly shut-down. The system ends the
// process when the handler returns (and on its own after about 5 s), so a little less than that.
inline constexpr DWORD ConsoleCloseWaitMs = 4500;

// Runs on a thread of the system's. Ctrl+C and Ctrl+Break ask the loop to stop and return at
// once; a console close or shutdown asks the same and waits until ShutDownDone (or the bound
// above). A logoff is ignored: a console being used is closed at logoff anyway, and the program
// run as a service hears of every user's logoff, not only its own.
BOOL WINAPI ConsoleControlHandler(DWORD event);
