#pragma once
// What the program needs of the system it runs on: one implementation per system, in app/posix
// and app/windows; the build picks the folder.
#include <string>
#include <string_view>
#include <vector>

class TEventLoop;

// Readies the process before anything else runs, before any thread starts, and begins catching
// the requests to stop (SIGINT and SIGTERM; Ctrl+C, Ctrl+Break, closing the console, shutdown):
// from here on they no longer end the process on the spot but wait for StopLoopOnRequest.
void PrepareProcess();

// The program's arguments, argv[0] included, as UTF-8 (on Windows taken from the Unicode command
// line: argv is in the ANSI code page and loses every letter that page lacks).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// UTF-8 text to standard output or error, readable where it lands: as characters on a console,
// as the bytes themselves in a file or pipe.
void WriteStandardOutput(std::string_view utf8);
void WriteStandardError(std::string_view utf8);

// A request to stop, from now on, makes loop.Run() return after the round in progress; one that
// came earlier makes the next round the last. Only one loop is watched at a time.
void StopLoopOnRequest(TEventLoop& loop);
// Stop requests no longer reach the loop (it is about to go): call before the loop is destroyed.
void StopWatchingLoop();
// The program has shut down in order (servers closed, log written). A console that is being
// closed waits for this (a few seconds at most) before the system ends the process.
void ShutDownDone();
