#pragma once
// The built program as a child process, with a configuration folder of the tests' own.
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ProgramStop.h"
#include "support/ChildProgram.h"
#include "support/Loopback.h"

// A path from UTF-8, whatever the system's own code page.
inline std::filesystem::path PathOf(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8Of(const std::filesystem::path& path)
{
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A configuration folder of the tests' own, never the user's (UTF-8).
inline const std::string& ConfigDir()
{
    static const std::string dir = [] {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("tzz-program-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(path);
        return Utf8Of(path);
    }();
    return dir;
}

// The program with a configuration folder of the tests' own.
struct TProgram : TChildProgram {
    explicit TProgram(const std::vector<std::string>& args)
        : TChildProgram(TZZ_PROGRAM, args, {{"XDG_CONFIG_HOME", ConfigDir()}})
    {
    }
};

template <class TClient>
bool Connected(TClient& peer, int port)
{
    for (int i = 0; i < 100; ++i) {
        if (peer.Connect(port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
