#pragma once
// The built program run as a user runs it, with a configuration folder of the tests' own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ChildProgram.h"
#include "support/TestPlatform.h"
#include "support/ZzPeer.h"

// A configuration folder of the tests' own, never the user's.
inline const std::string& ConfigDir()
{
    static const std::string dir = MakeTempDir("tzz-program-");
    return dir;
}

// The program with a configuration folder of the tests' own.
struct TProgram : TChildProgram {
    explicit TProgram(const std::vector<std::string>& args)
        : TChildProgram(TZZ_PROGRAM, args, {{"XDG_CONFIG_HOME", ConfigDir()}})
    {
    }
};

inline bool Connected(TZzPeer& peer, int port)
{
    for (int i = 0; i < 100; ++i) {
        if (peer.Connect(port))
            return true;
        SleepMs(20);
    }
    return false;
}
