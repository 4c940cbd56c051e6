#include "core/Random.h"

#include <chrono>

void TRandomDraw::Randomize()
{
    using namespace std::chrono;
    auto now = system_clock::now().time_since_epoch();
    auto ms = duration_cast<milliseconds>(now).count() % (24LL * 60 * 60 * 1000);
    Seed = static_cast<uint32_t>(ms);
}

TRandomDraw& ProcessRandom()
{
    static TRandomDraw draw;
    return draw;
}
