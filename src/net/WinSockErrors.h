#pragma once
// Socket failures are reported with Windows Sockets numbers, so that messages and descriptions
// read as the system has always written them. The numbers themselves come with the system's
// socket calls (SocketApi.h: native on Windows, errno mapped onto them elsewhere).
#include <string>

#include "SocketApi.h"

// The description of a Windows Sockets number ("Not a WinSock error" for any other).
const char* WinSockErrorDesc(int code);
