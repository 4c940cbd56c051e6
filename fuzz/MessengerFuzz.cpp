// Fuzzes the packet reassembly with the whole command dispatch behind it. Two connected,
// logged-in clients; the input is fed to the first in reads whose sizes the input chooses, and
// every answer goes out on the real connections.
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "messenger/ZZProtocol.h"
#include "messenger/ZzSerwer.h"
#include "protocol/CommandHandler.h"

namespace {

struct TFuzzSerwer : TZzSerwer {
    using TZzSerwer::ClientReceived;
};

struct TWorld {
    TFuzzSerwer Serwer;
    TCountingLog Log;
    TRandomDraw Random{1};
    TZzCommandHandler Handler{Serwer, Log, Random};
    int Peers[2] = {-1, -1};

    TWorld()
    {
        Handler.Bind();
        Serwer.SetPort(0);
        std::string error;
        Serwer.Open(error);
    }

    // Both peers connected and accepted, fresh state on their clients.
    bool Ready()
    {
        for (int& p : Peers) {
            if (p >= 0 && !Drain(p)) {
                ::close(p);
                p = -1;
            }
        }
        Pump(3);
        for (int& p : Peers)
            if (p < 0)
                p = ConnectTo(LocalPort(Serwer.SocketServer()));
        for (int i = 0; i < 50 && Connected() < 2; ++i)
            Pump(1);
        if (Connected() < 2)
            return false;
        for (int i = 0; i < 2; ++i) {
            TZzClient* c = Serwer.Client(i);
            c->ReceiveBuffer.clear();
            c->SetUserNumber(i == 0 ? 5 : 7);
            c->Status = 0;
            c->ContactsReply.clear();
            c->UserListData.clear();
        }
        return true;
    }
    int Connected()
    {
        int n = 0;
        for (int i = 0; i < Serwer.ClientCount(); ++i)
            n += Serwer.Client(i)->State() == wsConnected;
        return n == Serwer.ClientCount() ? n : -1;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TWorld* world = new TWorld;
    if (size < 1 || !world->Ready())
        return 0;
    // The first byte chooses how the rest is cut into reads.
    size_t step = 1 + data[0] % 64;
    ByteView rest(reinterpret_cast<const char*>(data + 1), size - 1);
    TZzClient* first = world->Serwer.Client(0);
    while (!rest.empty() && world->Serwer.Client(0) == first) {
        ByteView chunk = rest.substr(0, step);
        rest.remove_prefix(chunk.size());
        world->Serwer.ClientReceived(first, chunk);
        for (int p : world->Peers)
            Drain(p);
        Pump(1);
    }
    Pump(3);
    return 0;
}
