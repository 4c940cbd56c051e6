#pragma once
// Socket failures are reported with Windows Sockets numbers, so that messages and descriptions
// read as the system has always written them.
#include <string>

inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// errno to the Windows Sockets number; an errno without one is returned as it is.
int WinSockError(int errnoValue);

// The description of a Windows Sockets number ("Not a WinSock error" for any other).
const char* WinSockErrorDesc(int code);
