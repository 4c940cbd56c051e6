#pragma once
// Line mode on top of the socket (LineWSocket.cpp). The socket owns its line buffer: bytes read
// and not yet handed over, never much more than LineLimit (a line over it is dropped whole and
// the memory given back), so a peer cannot make a connection hold more. A handler reads the line it was handed with Receive during
// OnDataAvailable; what it leaves stays for the next call. Switching LineMode from inside a
// handler is safe: what was buffered is offered again from a posted notification.
#include <functional>
#include <string>
#include <vector>

#include "net/CustomWSocket.h"

using TLineLimitEvent = std::function<void(TCustomWSocket* Sender, int RcvdLength, bool& ClearData)>;

// Line mode: with LineMode on, received bytes are collected and handed over one complete line
// (up to and including LineEnd) at a time; with it off everything passes through unchanged.
class TCustomLineWSocket : public TCustomWSocket {
public:
    using TCustomWSocket::TCustomWSocket;

    bool GetLineMode() const { return FLineMode; }
    void SetLineMode(bool value);
    std::string LineEnd = "\r\n";
    int LineLimit = 65536;
    bool LineEcho = false;
    bool LineEdit = false;
    TSocketEvent<TLineLimitEvent> OnLineLimitExceeded;

    int Receive(void* buffer, int bufferSize) override;
    int RcvdCount() override;
    int BufferedCount() const { return FRcvCnt; }
    size_t LineBufferCapacity() const { return FRcvdPtr.capacity(); }  // memory the line buffer holds

protected:
    void Dispatch(TMessage& msg) override;
    bool TriggerDataAvailable(uint16_t error) override;
    void TriggerSessionClosed(uint16_t error) override;

private:
    bool RaiseDataAvailable();  // false when no handler is assigned
    void CutLines(int searchStart);
    bool SkipDroppedLine(int searchStart);
    void Compact();
    void MakeRoom(int bytes);
    void FreeLineBuffer();
    void Redeliver();

    bool FLineMode = false;
    std::vector<char> FRcvdPtr;  // the line buffer: FRcvCnt bytes from FRcvHead
    int FRcvHead = 0;
    int FRcvCnt = 0;
    int FLineLength = 0;
    bool FLineClearData = false;
    bool FDroppingLine = false;  // a line went over LineLimit: its rest is dropped up to its end
};
