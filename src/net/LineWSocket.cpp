// Line mode: received bytes collected and handed over one complete line at a time.
#include "net/LineWSocket.h"

#include <algorithm>
#include <cstring>

void TCustomLineWSocket::SetLineMode(bool value)
{
    if (value == FLineMode)
        return;
    FLineMode = value;
    FDroppingLine = false;
    // A line that was handed over and not read, and everything behind it, is raw data now.
    if (!value)
        FLineLength = 0;
    if (FRcvCnt > 0)
        PostMessageToSelf(WM_TRIGGER_DATA_AVAILABLE);
}

int TCustomLineWSocket::RcvdCount()
{
    if (FLineMode)
        return FLineLength;
    if (FRcvCnt > 0)
        return FRcvCnt;
    return TCustomWSocket::RcvdCount();
}

int TCustomLineWSocket::Receive(void* buffer, int bufferSize)
{
    int size = std::max(bufferSize, 0);
    if ((FLineMode && FLineLength > 0) || (!FLineMode && FRcvCnt > 0)) {
        int available = FLineMode ? FLineLength : FRcvCnt;
        int n = std::min(size, available);
        std::memcpy(buffer, FRcvdPtr.data() + FRcvHead, static_cast<size_t>(n));
        FRcvHead += n;
        FRcvCnt -= n;
        if (FLineMode)
            FLineLength -= n;
        if (FRcvCnt == 0)
            FRcvHead = 0;
        return n;
    }
    return PlainReceive(buffer, bufferSize);
}

bool TCustomLineWSocket::RaiseDataAvailable()
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, 0);
    return true;
}

void TCustomLineWSocket::Compact()
{
    if (FRcvHead > 0) {
        std::memmove(FRcvdPtr.data(), FRcvdPtr.data() + FRcvHead, static_cast<size_t>(FRcvCnt));
        FRcvHead = 0;
    }
}

void TCustomLineWSocket::FreeLineBuffer()
{
    std::vector<char>().swap(FRcvdPtr);
    FRcvHead = FRcvCnt = FLineLength = 0;
    FDroppingLine = false;
}

void TCustomLineWSocket::MakeRoom(int bytes)
{
    // Room for bytes behind what is held, and the zero byte behind them. Grown by hand: the
    // library's own growth would double past what LineLimit lets a line take.
    size_t need = static_cast<size_t>(FRcvCnt) + static_cast<size_t>(bytes) + 1;
    if (FRcvdPtr.size() >= need)
        return;
    size_t size = std::max(need, FRcvdPtr.size() * 2);
    if (LineLimit > 0 && FRcvCnt <= LineLimit)
        size = std::max(need, std::min(size, static_cast<size_t>(LineLimit) + 2));
    std::vector<char> bigger(size);
    if (FRcvCnt > 0)
        std::memcpy(bigger.data(), FRcvdPtr.data() + FRcvHead, static_cast<size_t>(FRcvCnt));
    FRcvdPtr.swap(bigger);
    FRcvHead = 0;
}

bool TCustomLineWSocket::SkipDroppedLine(int searchStart)
{
    std::string_view held(FRcvdPtr.data() + FRcvHead, static_cast<size_t>(FRcvCnt));
    size_t i = held.find(LineEnd, static_cast<size_t>(searchStart));
    if (i == std::string_view::npos) {
        // Only what may begin a terminator split across reads is kept.
        int keep = std::min(FRcvCnt, static_cast<int>(LineEnd.size()) - 1);
        FRcvHead += FRcvCnt - keep;
        FRcvCnt = keep;
        return false;
    }
    // The dropped line has ended: what follows it moves to a buffer of its own size, so the
    // memory the long line took is given back.
    int end = static_cast<int>(i + LineEnd.size());
    std::vector<char> rest(static_cast<size_t>(FRcvCnt - end) + 1, '\0');
    std::memcpy(rest.data(), FRcvdPtr.data() + FRcvHead + end, static_cast<size_t>(FRcvCnt - end));
    FRcvdPtr.swap(rest);
    FRcvHead = 0;
    FRcvCnt -= end;
    FDroppingLine = false;
    return true;
}

void TCustomLineWSocket::CutLines(int searchStart)
{
    while (FLineMode && FRcvCnt > 0) {
        std::string_view held(FRcvdPtr.data() + FRcvHead, static_cast<size_t>(FRcvCnt));
        size_t i = held.find(LineEnd, static_cast<size_t>(searchStart));
        if (i == std::string_view::npos)
            break;
        FLineLength = static_cast<int>(i + LineEnd.size());
        while (FLineMode && FLineLength > 0) {
            if (!RaiseDataAvailable()) {
                FRcvHead += FLineLength;  // nobody reads lines: this one is dropped
                FRcvCnt -= FLineLength;
                FLineLength = 0;
            }
        }
        searchStart = 0;
    }
    Compact();
    if (LineLimit > 0 && FRcvCnt > LineLimit) {
        FLineClearData = true;
        if (OnLineLimitExceeded)
            OnLineLimitExceeded(this, FRcvCnt, FLineClearData);
        if (FLineClearData) {
            FreeLineBuffer();
            FDroppingLine = true;  // what follows of this line, up to its end, goes the same way
        }
    }
}

bool TCustomLineWSocket::TriggerDataAvailable(uint16_t error)
{
    if (!FLineMode || LineEnd.empty())
        return TCustomWSocket::TriggerDataAvailable(error);

    int n = 0;
    if (SocketPendingBytes(FHSocket, n) != 0)
        return true;
    if (n == 0)
        n = 255;
    n = std::min(n, ReadShare);  // the receive loop's share, taken a read at a time
    // One byte more than a line may hold shows that it is too long; more would only be held.
    if (LineLimit > 0 && FRcvCnt <= LineLimit)
        n = std::min(n, LineLimit + 1 - FRcvCnt);
    Compact();
    MakeRoom(n);
    int r = PlainReceive(FRcvdPtr.data() + FRcvCnt, n);
    if (r <= 0)
        return true;
    FRcvdPtr[static_cast<size_t>(FRcvCnt + r)] = '\0';
    int searchStart = std::max(0, FRcvCnt - static_cast<int>(LineEnd.size()));
    FRcvCnt += r;
    if (FDroppingLine) {
        if (!SkipDroppedLine(searchStart)) {
            Compact();
            return true;
        }
        searchStart = 0;
    }
    CutLines(searchStart);
    return true;
}

void TCustomLineWSocket::Redeliver()
{
    // Ends when a pass takes nothing: no complete line and no read of buffered bytes.
    while (FRcvCnt > 0) {
        int before = FRcvCnt;
        if (FLineMode && !LineEnd.empty()) {
            CutLines(0);
        } else if (!RaiseDataAvailable()) {
            FRcvHead = FRcvCnt = 0;
        }
        if (FRcvCnt == before)
            break;
    }
}

void TCustomLineWSocket::Dispatch(TMessage& msg)
{
    if (msg.Msg == WM_TRIGGER_DATA_AVAILABLE) {
        Redeliver();
        return;
    }
    TCustomWSocket::Dispatch(msg);
}

void TCustomLineWSocket::TriggerSessionClosed(uint16_t error)
{
    if (FLineMode && FRcvCnt > 0 && !FDroppingLine) {
        // What is left is offered as one last line without its terminator.
        try {
            FLineLength = FRcvCnt;
            while (FLineMode && FLineLength > 0) {
                int before = FLineLength;
                if (!RaiseDataAvailable() || FLineLength == before)
                    break;
            }
        } catch (...) {
        }
    }
    FreeLineBuffer();
    TCustomWSocket::TriggerSessionClosed(error);
}
