#pragma once
// What the tests need of the system and get differently on each: temporary folders, the heap
// and handles in use, and waiting on a raw socket. The files
// under support/posix and support/windows implement it; the build picks one.
#include <cstddef>
#include <string>

#include "SocketApi.h"

// A new, empty folder in the system's temporary folder, named prefix and a unique tail (UTF-8).
std::string MakeTempDir(const std::string& prefix);

// Bytes of the C++ heap handed out and not given back.
size_t HeapInUse();
// Descriptors (handles) the process holds: sockets, files, pipes.
size_t OpenHandles();
// Whether this process holds the file open (a server under test runs in it).
bool FileIsOpen(const std::string& path);
// Makes room for at least count open sockets in this process; false when the system refuses.
bool AllowOpenSockets(size_t count);

// Waits until s can be read (data, end of stream or an error) or written (room, a completed or
// failed connect); false when the time ran out first.
bool WaitReadable(TSocket s, int timeoutMs);
bool WaitWritable(TSocket s, int timeoutMs);
