// The lookup by user number against the plain walk of the client list it replaces: random
// accepts, logins, re-logins and frees, and after each the same answer for every number.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "messenger/ZzSerwer.h"

namespace {

struct ZzUserIndexTest : ::testing::Test {
    TWSocketServer Owner;
    TZzUserIndex Index;
    std::vector<std::unique_ptr<TZzClient>> Listed;  // in accept order, as the server lists them

    TZzClient* Accept()
    {
        Listed.push_back(std::make_unique<TZzClient>(&Owner));
        Index.Add(Listed.back().get());
        return Listed.back().get();
    }
    void Free(size_t i)
    {
        Index.Remove(Listed[i].get());
        Listed.erase(Listed.begin() + static_cast<std::ptrdiff_t>(i));
    }
    TZzClient* Walk(uint32_t number) const
    {
        for (const auto& c : Listed)
            if (c->UserNumber() == number)
                return c.get();
        return nullptr;
    }
    ~ZzUserIndexTest() override
    {
        while (!Listed.empty())
            Free(Listed.size() - 1);
    }
};

}  // namespace

TEST_F(ZzUserIndexTest, AgreesWithTheWalkThroughRandomLoginsAndFrees)
{
    std::mt19937 rng(20261208);
    // Few numbers, so that many clients share one, plus a wide range now and then.
    auto pickNumber = [&]() -> uint32_t {
        uint32_t r = rng() % 10;
        return r < 7 ? rng() % 12 : r < 9 ? rng() : 0xFFFFFFFFu - rng() % 3;
    };
    std::vector<uint32_t> asked;
    for (int step = 0; step < 20000; ++step) {
        uint32_t op = rng() % 10;
        if (Listed.empty() || op < 3) {
            Accept();
        } else if (op < 5 && Listed.size() > 1) {
            Free(rng() % Listed.size());
        } else {
            TZzClient* c = Listed[rng() % Listed.size()].get();
            uint32_t before = c->UserNumber();
            uint32_t number = pickNumber();
            Index.Renumber(c, number);
            ASSERT_EQ(c->UserNumber(), number);
            asked.push_back(before);
        }
        asked.push_back(pickNumber());
        asked.push_back(Listed[rng() % Listed.size()]->UserNumber());
        for (uint32_t n : asked) {
            ASSERT_EQ(Index.First(n), Walk(n)) << "number " << n << " at step " << step;
            ASSERT_EQ(Index.FirstConnected(n), nullptr);  // none of these ever connected
        }
        asked.clear();
    }
}

TEST_F(ZzUserIndexTest, GrowsForACrowdAndGivesTheRoomBackWhenItLeaves)
{
    for (uint32_t i = 0; i < 5000; ++i)
        Accept()->SetUserNumber(0);  // not filed with a server: only the field changes
    for (auto& c : Listed)
        Index.Renumber(c.get(), static_cast<uint32_t>(&c - &Listed[0]) * 1024);
    EXPECT_EQ(Index.NumbersInUse(), 5000u);
    EXPECT_GE(Index.Capacity(), 10000u);
    for (uint32_t i = 0; i < 5000; ++i)
        ASSERT_EQ(Index.First(i * 1024), Listed[i].get());
    EXPECT_EQ(Index.First(1), nullptr);
    while (Listed.size() > 3)
        Free(0);
    EXPECT_EQ(Index.NumbersInUse(), 3u);
    EXPECT_LE(Index.Capacity(), 64u);
    EXPECT_EQ(Index.First(4997 * 1024), Listed[0].get());
}

TEST_F(ZzUserIndexTest, ARenumberedClientKeepsItsAcceptPlace)
{
    TZzClient* a = Accept();
    TZzClient* b = Accept();
    TZzClient* c = Accept();
    Index.Renumber(a, 7);
    Index.Renumber(c, 7);
    Index.Renumber(b, 7);
    EXPECT_EQ(Index.First(7), a);
    Index.Renumber(a, 8);
    EXPECT_EQ(Index.First(7), b);
    Index.Renumber(a, 7);
    EXPECT_EQ(Index.First(7), a);
    EXPECT_LT(a->AcceptSequence(), b->AcceptSequence());
    EXPECT_LT(b->AcceptSequence(), c->AcceptSequence());
    EXPECT_EQ(Index.First(0), nullptr);
    EXPECT_EQ(Index.First(8), nullptr);
}
