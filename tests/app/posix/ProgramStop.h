#pragma once
#include <csignal>

// How a service manager asks the program to stop in order.
inline constexpr int StopRequest = SIGTERM;
