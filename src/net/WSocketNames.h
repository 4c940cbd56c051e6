#pragma once
// Name resolution for Listen and the text of socket errors. Plain functions without state,
// safe anywhere; each failure raises ESocketException with its own message.
#include <cstdint>
#include <exception>
#include <string>

#include "SocketApi.h"

class ESocketException : public std::exception {
public:
    explicit ESocketException(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

private:
    std::string Message;
};

// "Error <code> in function <tag>" CR LF <description>.
std::string SocketErrorMessage(int code, const std::string& tag);

int WSocketResolveProto(const std::string& proto);
uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);  // host order
in_addr_t WSocketResolveHost(const std::string& host);                              // network order
bool WSocketIsDottedIP(const std::string& text);
// Four decimal parts of 0..255 separated by dots, spaces around allowed; addr in network order.
bool WSocketParseDotted(const std::string& text, in_addr_t& addr);
