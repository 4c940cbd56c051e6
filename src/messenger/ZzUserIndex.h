#pragma once
// Finding clients by user number without walking the client list. For every number in use it
// keeps the clients that carry it in accept order, so its answer is always the one a walk of
// the client list from index 0 would give: the first client accepted with that number (for 0,
// the first that has not logged in or logged in as 0).
//
// Layout, chosen for ten thousand connections: one open-addressing table of 16-byte slots, one
// slot per number in use. A number carried by one client (nearly always) holds that client in
// its slot; only a number carried by several gets a small vector, ordered by accept sequence.
// No allocation per client otherwise. The slot of a number is found through a hash keyed per
// process, so that clients cannot choose numbers that pile up in one place of the table.
#include <cstddef>
#include <cstdint>
#include <vector>

class TZzClient;

class TZzUserIndex {
public:
    TZzUserIndex();
    ~TZzUserIndex();
    TZzUserIndex(const TZzUserIndex&) = delete;
    TZzUserIndex& operator=(const TZzUserIndex&) = delete;

    // Files a newly accepted client under its number, behind every client filed before it.
    void Add(TZzClient* client);
    // Forgets the client (it is being freed). A client that was never filed is ignored.
    void Remove(TZzClient* client);
    // Gives the client another number; among the clients already carrying that number it takes
    // its place by accept order, not by the order of logins.
    void Renumber(TZzClient* client, uint32_t number);

    // The first client in accept order with this number, or nullptr.
    TZzClient* First(uint32_t number) const;
    // The same, passing by clients whose connection has closed (they stay filed until freed).
    TZzClient* FirstConnected(uint32_t number) const;

    size_t NumbersInUse() const { return FUsed; }
    size_t Capacity() const { return FSlots.size(); }

private:
    struct TSlot {
        uint32_t Number = 0;
        uint32_t Count = 0;  // 0: free; 1: One; more: Many, ordered by accept sequence
        union {
            TZzClient* One = nullptr;
            std::vector<TZzClient*>* Many;
        };
    };
    static constexpr size_t MinCapacity = 16;  // a power of two

    size_t Home(uint32_t number) const;
    size_t Find(uint32_t number) const;  // slot index, or FSlots.size() when not in use
    size_t Claim(uint32_t number);       // the slot of the number, made when new
    void Erase(size_t slot);
    void Insert(TZzClient* client);      // by the client's accept sequence
    void Rehash(size_t capacity);

    std::vector<TSlot> FSlots;
    size_t FUsed = 0;
    uint64_t FKey;
    uint64_t FNextSequence = 0;
};
