#pragma once
// The built program as a child process, with a configuration folder of the tests' own.
#include <filesystem>
#include <string>
#include <vector>

#include "ProgramStop.h"
#include "core/Utf8Path.h"
#include "support/ChildProgram.h"
#include "support/Loopback.h"
#include "support/TestPlatform.h"

// A configuration folder of the tests' own, never the user's (UTF-8).
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
