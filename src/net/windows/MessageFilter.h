#pragma once
// The event loop's thread also runs the program's windows: their messages come out of the same
// queue as the sockets'. A window that wants a message before it is dispatched (menu shortcuts,
// keyboard navigation) says so here.
#include <functional>

#include "core/windows/WindowsHeaders.h"

// filter(msg) runs for every message the loop takes out of the queue, before it is translated and
// dispatched; true when it has handled the message (which is then not dispatched). One filter per
// thread; an empty one removes it.
void SetWindowMessageFilter(std::function<bool(MSG&)> filter);
