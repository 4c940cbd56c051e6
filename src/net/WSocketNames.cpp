#include "net/WSocketNames.h"

#include "core/ByteString.h"
#include "net/WinSockErrors.h"

namespace {

bool StartsWithDigit(const std::string& s)
{
    return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

// Decimal value of the leading digits (leading spaces skipped); -1 when it exceeds limit.
long LeadingNumber(const std::string& s, long limit)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > limit)
            return -1;
    }
    return v;
}

std::string Quoted(const char* format, const std::string& text, int code)
{
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += text;
            ++p;
        } else if (p[0] == '%' && p[1] == 'd') {
            out += std::to_string(code);
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace

std::string SocketErrorMessage(int code, const std::string& tag)
{
    return "Error " + std::to_string(code) + " in function " + tag + "\r\n" + WinSockErrorDesc(code);
}

int WSocketResolveProto(const std::string& proto)
{
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    std::string name = TrimText(proto);
    if (StartsWithDigit(name))
        return static_cast<int>(LeadingNumber(name, 255));
    if (const protoent* p = getprotobyname(name.c_str()))
        return p->p_proto;
    // Without a protocols database the two that matter are still known.
    if (name == "tcp")
        return IPPROTO_TCP;
    if (name == "udp")
        return IPPROTO_UDP;
    throw ESocketException(
        Quoted("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", name, WSANO_DATA));
}

uint16_t WSocketResolvePort(const std::string& port, const std::string& proto)
{
    if (port.empty() || port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Proto.");
    if (StartsWithDigit(port)) {
        long v = LeadingNumber(port, 65535);
        if (v < 0)
            throw ESocketException(
                Quoted("WSocketResolvePort: Cannot convert port '%s', Error #%d", port, WSAEINVAL));
        return static_cast<uint16_t>(v);
    }
    std::string name = TrimText(port);
    if (const servent* s = getservbyname(name.c_str(), TrimText(proto).c_str()))
        return ntohs(static_cast<uint16_t>(s->s_port));
    throw ESocketException(Quoted("WSocketResolvePort: Cannot convert port '%s', Error #%d", name, WSANO_DATA));
}

// Four decimal parts of 0..255 separated by dots, spaces around allowed; network order.
bool WSocketParseDotted(const std::string& text, in_addr_t& addr)
{
    std::string s = TrimText(text);
    uint32_t value = 0;
    int parts = 0;
    size_t i = 0;
    while (true) {
        size_t start = i;
        long v = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 4)
            v = v * 10 + (s[i++] - '0');
        if (i == start || i - start > 3 || v > 255)
            return false;
        value = (value << 8) | static_cast<uint32_t>(v);
        ++parts;
        if (i == s.size()) {
            addr = htonl(value);
            return parts == 4;
        }
        if (s[i] != '.' || parts == 4)
            return false;
        ++i;
    }
}

bool WSocketIsDottedIP(const std::string& text)
{
    in_addr_t unused;
    return WSocketParseDotted(text, unused);
}

in_addr_t WSocketResolveHost(const std::string& host)
{
    if (host.empty() || host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
    if (in_addr_t addr; WSocketParseDotted(host, addr))
        return addr;
    SocketStartup();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &res);
    if (rc != 0 || !res) {
        int code = rc == EAI_AGAIN ? WSATRY_AGAIN : rc == EAI_FAIL ? WSANO_RECOVERY : WSAHOST_NOT_FOUND;
        throw ESocketException(Quoted("WSocketResolveHost: Cannot convert host address '%s', Error #%d", host, code));
    }
    in_addr_t addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(res);
    return addr;
}
