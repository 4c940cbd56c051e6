#pragma once
// A program with a window has no console; started from a command prompt, it can still write
// to the prompt's console (--help, --version, a bad option, --headless's log).

// Attaches to the console of the parent process when standard output or error lead nowhere
// (they are kept when redirected to a file or pipe), and makes the runtime's descriptors 0, 1 and
// 2 use it. Does nothing when there is no such console (started from Explorer).
void UseParentConsole();
