#include <gtest/gtest.h>

#include "core/Random.h"

TEST(RandomDraw, AdvancesThenTakesTheUpperHalf)
{
    TRandomDraw r(0);
    // seed 0 -> 1; 1 * 2147483647 >> 32 = 0
    EXPECT_EQ(r.Random(MaxDraw), 0u);
    EXPECT_EQ(r.GetSeed(), 1u);
    // seed 1 -> 134775814; (134775814 * 2147483647) >> 32 = 67387906
    EXPECT_EQ(r.Random(MaxDraw), 67387906u);
    EXPECT_EQ(r.GetSeed(), 134775814u);
}

TEST(RandomDraw, WrapsModulo32Bits)
{
    TRandomDraw r(0xFFFFFFFFu);
    // 0xFFFFFFFF * 134775813 + 1 = -134775813 + 1 mod 2^32 = 4160191484
    uint32_t v = r.Random(MaxDraw);
    EXPECT_EQ(r.GetSeed(), 4160191484u);
    EXPECT_EQ(v, 2080095741u);
    EXPECT_LT(v, MaxDraw);
}
