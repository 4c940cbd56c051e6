#pragma once
// A listening server on a free loopback port that records its clients' disconnects.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/WSocketS.h"
#include "support/Loopback.h"

struct ServerTest : ::testing::Test {
    std::unique_ptr<TWSocketServer> Server = std::make_unique<TWSocketServer>();
    std::vector<std::string> Events;
    int Disconnects = 0;

    void SetUp() override
    {
        Server->SetAddr("127.0.0.1");
        Server->SetPort("0");
        Server->OnClientDisconnect = [this](TCustomWSocketServer* s, TWSocketClient* c, uint16_t e) {
            ++Disconnects;
            Events.push_back("disconnect " + c->Name + " " + std::to_string(e) + " count " +
                             std::to_string(s->ClientCount()));
        };
    }
    void Listen()
    {
        Server->Listen();
        ASSERT_EQ(Server->State(), wsListening);
    }
    int Port() { return BoundPort(*Server); }
};
