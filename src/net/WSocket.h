#pragma once
// The socket the servers use: the non-blocking socket (CustomWSocket.h) with line mode
// (LineWSocket.h). Read those headers for who owns what and when a call is safe.
#include "net/LineWSocket.h"

class TWSocket : public TCustomLineWSocket {
public:
    using TCustomLineWSocket::TCustomLineWSocket;
};
