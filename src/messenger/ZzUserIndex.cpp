#include "messenger/ZzUserIndex.h"

#include <algorithm>
#include <random>

#include "messenger/ZzSerwer.h"

namespace {

bool AcceptedBefore(const TZzClient* a, const TZzClient* b)
{
    return a->AcceptSequence() < b->AcceptSequence();
}

}  // namespace

TZzUserIndex::TZzUserIndex() : FSlots(MinCapacity)
{
    std::random_device seed;
    FKey = (static_cast<uint64_t>(seed()) << 32) ^ seed();
}

TZzUserIndex::~TZzUserIndex()
{
    for (TSlot& s : FSlots)
        if (s.Count > 1)
            delete s.Many;
}

size_t TZzUserIndex::Home(uint32_t number) const
{
    // A 64-bit finaliser over the number mixed with the process's key: every bit of the number
    // moves the slot, and without the key the slot cannot be foreseen.
    uint64_t h = number ^ FKey;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return static_cast<size_t>(h) & (FSlots.size() - 1);
}

size_t TZzUserIndex::Find(uint32_t number) const
{
    size_t mask = FSlots.size() - 1;
    for (size_t i = Home(number);; i = (i + 1) & mask) {
        const TSlot& s = FSlots[i];
        if (s.Count == 0)
            return FSlots.size();
        if (s.Number == number)
            return i;
    }
}

size_t TZzUserIndex::Claim(uint32_t number)
{
    if (size_t found = Find(number); found != FSlots.size())
        return found;
    // At most half full, so that a probe meets a free slot after a step or two.
    if ((FUsed + 1) * 2 > FSlots.size())
        Rehash(FSlots.size() * 2);
    size_t mask = FSlots.size() - 1;
    size_t i = Home(number);
    while (FSlots[i].Count != 0)
        i = (i + 1) & mask;
    FSlots[i].Number = number;
    ++FUsed;
    return i;  // Count 0 until the caller files the client
}

void TZzUserIndex::Erase(size_t slot)
{
    // Linear probing without tombstones: move later members of the probe run back into the gap
    // when their home does not lie between the gap and where they stand.
    size_t mask = FSlots.size() - 1;
    size_t gap = slot;
    for (size_t j = (gap + 1) & mask; FSlots[j].Count != 0; j = (j + 1) & mask) {
        size_t home = Home(FSlots[j].Number);
        bool homeInRun = gap <= j ? (gap < home && home <= j) : (gap < home || home <= j);
        if (!homeInRun) {
            FSlots[gap] = FSlots[j];
            gap = j;
        }
    }
    FSlots[gap] = TSlot();
    --FUsed;
    // Give memory back after a crowd has left, keeping the table at most a quarter full then.
    if (FSlots.size() > MinCapacity && FUsed * 8 < FSlots.size())
        Rehash(FSlots.size() / 2);
}

void TZzUserIndex::Rehash(size_t capacity)
{
    std::vector<TSlot> old(capacity);
    old.swap(FSlots);
    size_t mask = FSlots.size() - 1;
    for (const TSlot& s : old) {
        if (s.Count == 0)
            continue;
        size_t i = Home(s.Number);
        while (FSlots[i].Count != 0)
            i = (i + 1) & mask;
        FSlots[i] = s;  // the vector of a shared number moves with its pointer
    }
}

void TZzUserIndex::Add(TZzClient* client)
{
    client->FAcceptSequence = ++FNextSequence;
    Insert(client);
}

void TZzUserIndex::Insert(TZzClient* client)
{
    TSlot& s = FSlots[Claim(client->FUserNumber)];
    if (s.Count == 0) {
        s.One = client;
    } else if (s.Count == 1) {
        TZzClient* first = s.One;
        s.Many = AcceptedBefore(first, client) ? new std::vector<TZzClient*>{first, client}
                                               : new std::vector<TZzClient*>{client, first};
    } else {
        auto at = std::upper_bound(s.Many->begin(), s.Many->end(), client, AcceptedBefore);
        s.Many->insert(at, client);
    }
    ++s.Count;
}

void TZzUserIndex::Remove(TZzClient* client)
{
    size_t slot = Find(client->FUserNumber);
    if (slot == FSlots.size())
        return;
    TSlot& s = FSlots[slot];
    if (s.Count == 1) {
        if (s.One == client)
            Erase(slot);
        return;
    }
    std::vector<TZzClient*>& many = *s.Many;
    auto at = std::lower_bound(many.begin(), many.end(), client, AcceptedBefore);
    if (at == many.end() || *at != client)
        return;
    many.erase(at);
    if (--s.Count == 1) {
        TZzClient* last = many.front();
        delete s.Many;
        s.One = last;
    } else if (many.capacity() > 64 && many.size() * 4 < many.capacity()) {
        many.shrink_to_fit();
    }
}

void TZzUserIndex::Renumber(TZzClient* client, uint32_t number)
{
    if (client->FUserNumber == number)
        return;
    Remove(client);
    client->FUserNumber = number;
    Insert(client);  // with its own accept sequence, not a new one
}

TZzClient* TZzUserIndex::First(uint32_t number) const
{
    size_t slot = Find(number);
    if (slot == FSlots.size())
        return nullptr;
    const TSlot& s = FSlots[slot];
    return s.Count == 1 ? s.One : s.Many->front();
}

TZzClient* TZzUserIndex::FirstConnected(uint32_t number) const
{
    size_t slot = Find(number);
    if (slot == FSlots.size())
        return nullptr;
    const TSlot& s = FSlots[slot];
    if (s.Count == 1)
        return s.One->State() == wsConnected ? s.One : nullptr;
    // Closed clients ahead of the first open one are those closed since the loop last freed
    // clients: a handful, not a walk of the crowd.
    for (TZzClient* c : *s.Many)
        if (c->State() == wsConnected)
            return c;
    return nullptr;
}
