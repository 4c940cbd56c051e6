#pragma once
// The messenger protocol as the server speaks it: packet types of both directions, status
// words, the 14-byte contact status entry and the u32 wire form. Every packet on port 8074 is
// a u32 type, a u32 payload length and the payload, all little-endian.
#include <cstdint>

#include "core/ByteString.h"

inline constexpr uint32_t PacketHeaderSize = 8;

// Client to server (TClientPacket).
enum TClientPacket : uint32_t {
    cpNewStatus = 2,
    cpPing = 8,
    cpSendMessage = 11,
    cpRemoveContact = 14,
    cpContactsMore = 15,
    cpContactsLast = 16,
    cpContactsEmpty = 18,
    cpPublicDirectory = 20,
    cpLogin = 21,
    cpUserList = 22,
};

// Server to client (TServerPacket): a separate numbering; 15 and 16 differ by direction.
enum TServerPacket : uint32_t {
    spWelcome = 1,
    spLoginOk = 3,
    spMessageAck = 5,
    spMessage = 10,
    spStatusChange = 15,
    spUserListReply = 16,
    spContactsStatus = 17,
};

// Status codes (the status word with stFriendsOnly cleared).
enum TStatusCode : uint32_t {
    stLogout = 1,
    stAvailable = 2,
    stBusy = 3,
    stAvailableAlt = 4,
    stBusyAlt = 5,
    stHidden = 20,
    stLogoutAlt = 21,
    stHiddenAlt = 22,
};
inline constexpr uint32_t stFriendsOnly = 0x8000;

enum TMessageAck : uint32_t { ackRecipientAbsent = 1, ackRelayed = 2 };

// Subtypes of cpUserList, and the marker byte of its reply.
enum TUserListRequest : uint8_t { ulBegin = 0, ulMore = 1, ulGet = 2 };
inline constexpr uint8_t ulReplyGet = 6;

inline constexpr uint32_t SystemSender = 0;
inline constexpr uint32_t MessageClass = 4;
inline constexpr uint32_t ContactStatusEntrySize = 14;

// The four bytes of value, least significant first.
ByteString UInt32ToBytes(uint32_t value);
void AppendUInt32(ByteString& out, uint32_t value);
// The first four bytes as a u32; bytes that are missing count as zero.
uint32_t BytesToUInt32(ByteView bytes);
// The u32 at offset of a payload; bytes past its end count as zero.
uint32_t PayloadUInt32(ByteView payload, size_t offset);

// User number, status byte and nine zero bytes.
void AppendContactStatusEntry(ByteString& out, uint32_t userNumber, uint8_t status);
