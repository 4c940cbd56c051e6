#pragma once
#include <csignal>

// How the program is asked to stop in order on Windows, besides Ctrl+C: Ctrl+Break on its
// console.
inline constexpr int StopRequest = SIGBREAK;
