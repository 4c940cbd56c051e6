#include "messenger/ZzClient.h"

#include "messenger/ZzSerwer.h"

TZzClient::TZzClient(TCustomWSocketServer* owner) : TWSocketClient(owner)
{
    Server = owner;
    ComponentOptions |= OptionBit(wsoNoReceiveLoop);
    SetSlowQueueMark(SlowReaderMark);
}

TZzClient::~TZzClient()
{
    if (FSerwer)
        FSerwer->ClientFreed(this);
}

void TZzClient::ClosedWhileReadHeld()
{
    if (FSerwer)
        FSerwer->ClientClosedWhileHeld(this);
}

void TZzClient::SetUserNumber(uint32_t number)
{
    if (FSerwer)
        FSerwer->ClientLoggedIn(this, number);
    else
        FUserNumber = number;
    FLoggedIn = true;
}
