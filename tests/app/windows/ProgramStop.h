#pragma once
#include <csignal>

// How the program is asked to stop in order on Windows: Ctrl+C on its console. (Ctrl+Break takes
// the same path in the program, and is tested on the handler itself: Wine cannot send it to
// another process's console.)
inline constexpr int StopRequest = SIGINT;
