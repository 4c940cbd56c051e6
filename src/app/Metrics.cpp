#include "app/Metrics.h"

#include <cstdio>
#include <initializer_list>
#include <utility>

namespace {

const char* CauseName(TCloseCause cause)
{
    switch (cause) {
    case ccClientClosed: return "client_closed";
    case ccLogout: return "logout";
    case ccPacketTooLong: return "packet_too_long";
    case ccListTooLong: return "list_too_long";
    case ccSendQueueOverLimit: return "send_queue_over_limit";
    case ccStalledReader: return "stalled_reader";
    case ccSlowPacket: return "slow_packet";
    case ccLoginTimeout: return "login_timeout";
    case ccHttpTimeout: return "http_timeout";
    case ccError: return "error";
    case ccServer: return "server";
    default: return "none";
    }
}

const char* ReplyName(THttpReply reply)
{
    switch (reply) {
    case hrAddress: return "address";
    case hrRegistrationToken: return "registration_token";
    case hrRegistration: return "registration";
    case hrFile: return "file";
    case hrNotFound: return "not_found";
    case hrMetrics: return "metrics";
    case hrMethodNotAllowed: return "method_not_allowed";
    default: return "other";
    }
}

// Each family is written whole: HELP, TYPE, then its samples.
class TExposition {
public:
    void Family(const char* name, const char* type, const char* help)
    {
        Text += "# HELP ";
        Text += name;
        Text += ' ';
        Text += help;
        Text += "\n# TYPE ";
        Text += name;
        Text += ' ';
        Text += type;
        Text += '\n';
    }
    // labels: `name="value",...` (our own names and values: nothing to escape), or empty.
    void Sample(const char* name, const std::string& labels, uint64_t value)
    {
        Start(name, labels);
        Text += std::to_string(value);
        Text += '\n';
    }
    void Sample(const char* name, const std::string& labels, double value, const char* format)
    {
        char number[64];
        std::snprintf(number, sizeof number, format, value);
        Start(name, labels);
        Text += number;
        Text += '\n';
    }
    // A one-sample family.
    void Single(const char* name, const char* type, const char* help, uint64_t value)
    {
        Family(name, type, help);
        Sample(name, {}, value);
    }

    std::string Text;

private:
    void Start(const char* name, const std::string& labels)
    {
        Text += name;
        if (!labels.empty()) {
            Text += '{';
            Text += labels;
            Text += '}';
        }
        Text += ' ';
    }
};

struct TService {
    const char* Name;
    const TConnectionCounters& Connections;
    std::initializer_list<TCloseCause> Causes;
};

struct THttpService {
    const char* Name;
    const THttpCounters& Counters;
    std::initializer_list<THttpReply> Replies;
};

std::string ServiceLabel(const char* service)
{
    return std::string("service=\"") + service + "\"";
}

}  // namespace

uint64_t DroppedClients(const TConnectionCounters& messenger)
{
    uint64_t n = 0;
    for (TCloseCause c :
         {ccPacketTooLong, ccListTooLong, ccSendQueueOverLimit, ccStalledReader, ccSlowPacket, ccLoginTimeout})
        n += messenger.Closed[c];
    return n;
}

std::string GroupedNumber(uint64_t n)
{
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, 1, ',');
    return digits;
}

std::string StatusLine(uint64_t usersOnline, uint64_t messagesRelayed, uint64_t clientsDropped)
{
    auto counted = [](uint64_t n, const char* one, const char* many) {
        return GroupedNumber(n) + " " + (n == 1 ? one : many);
    };
    return counted(usersOnline, "user online", "users online") + ", " +
           counted(messagesRelayed, "message relayed", "messages relayed") + ", " +
           counted(clientsDropped, "client dropped", "clients dropped");
}

std::string MetricsText(const TMetricsInput& in)
{
    const std::initializer_list<TCloseCause> httpCauses = {ccClientClosed, ccHttpTimeout, ccError, ccServer};
    const TService services[] = {
        {"messenger", in.MessengerConnections,
         {ccClientClosed, ccLogout, ccPacketTooLong, ccListTooLong, ccSendQueueOverLimit, ccStalledReader, ccSlowPacket,
          ccLoginTimeout, ccError, ccServer}},
        {"bootstrap", in.BootstrapConnections, httpCauses},
        {"metrics", in.MetricsConnections, httpCauses},
    };
    const THttpService httpServices[] = {
        {"bootstrap", in.BootstrapReplies, {hrAddress, hrRegistrationToken, hrRegistration, hrFile, hrNotFound}},
        {"metrics", in.MetricsReplies, {hrMetrics, hrNotFound, hrMethodNotAllowed}},
    };

    TExposition e;
    e.Text.reserve(8 * 1024);
    e.Family("trelubki_build_info", "gauge", "The version of the running program (the value is always 1).");
    e.Sample("trelubki_build_info", std::string("version=\"") + TZZ_VERSION + "\"", uint64_t{1});
    e.Family("trelubki_start_time_seconds", "gauge", "When the program started, in seconds since 1970 (UTC).");
    e.Sample("trelubki_start_time_seconds", {}, in.StartTimeSeconds, "%.3f");

    auto perService = [&](const char* name, const char* type, const char* help, auto valueOf) {
        e.Family(name, type, help);
        for (const TService& s : services)
            e.Sample(name, ServiceLabel(s.Name), valueOf(s.Connections));
    };
    perService("trelubki_connections_accepted_total", "counter", "Connections accepted, by service.",
               [](const TConnectionCounters& c) { return c.Accepted; });
    perService("trelubki_connections_open", "gauge", "Connections open now, by service.",
               [](const TConnectionCounters& c) { return c.Open(); });
    e.Family("trelubki_connections_closed_total", "counter",
             "Connections ended, by service and cause: the client closed it, logged out, sent a packet or "
             "a list over its limit, let its send queue grow over its limit or stall, sent no login or no "
             "HTTP request in time, a network error, or the server ended it after its reply or at shutdown.");
    for (const TService& s : services)
        for (TCloseCause c : s.Causes)
            e.Sample("trelubki_connections_closed_total", ServiceLabel(s.Name) + ",cause=\"" + CauseName(c) + "\"",
                     s.Connections.Closed[c]);
    perService("trelubki_received_bytes_total", "counter", "Bytes received from clients, by service.",
               [](const TConnectionCounters& c) { return c.BytesReceived; });
    perService("trelubki_sent_bytes_total", "counter", "Bytes handed to the network for clients, by service.",
               [](const TConnectionCounters& c) { return c.BytesSent; });

    const TZzCounters& m = in.Messenger;
    e.Single("trelubki_users_logged_in", "gauge", "Messenger clients logged in now.", m.LoggedIn);
    e.Single("trelubki_logins_total", "counter", "Login packets handled.", m.Logins);
    e.Single("trelubki_messages_relayed_total", "counter", "Messages passed on to a connected recipient.",
             m.MessagesRelayed);
    e.Single("trelubki_absence_notices_total", "counter",
             "Messages whose recipient was not connected, answered with an absence notice.", m.AbsenceNotices);
    e.Single("trelubki_status_changes_total", "counter", "Status changes received.", m.StatusChanges);
    e.Single("trelubki_status_deliveries_total", "counter",
             "Status changes queued to the other connected clients (one per recipient).", m.StatusDeliveries);
    e.Single("trelubki_contact_list_requests_total", "counter",
             "Contact lists answered with the status of the listed users (or found empty).", m.ContactLists);
    e.Family("trelubki_user_list_requests_total", "counter",
             "User list requests: pieces stored (upload) and whole lists sent back (download).");
    e.Sample("trelubki_user_list_requests_total", "operation=\"upload\"", m.UserListUploads);
    e.Sample("trelubki_user_list_requests_total", "operation=\"download\"", m.UserListDownloads);

    e.Family("trelubki_http_requests_total", "counter",
             "HTTP requests by service and reply: the messenger server's address, a registration token, a "
             "registration, a file (200), not found (404); the metrics, method not allowed (405).");
    for (const THttpService& s : httpServices)
        for (THttpReply r : s.Replies)
            e.Sample("trelubki_http_requests_total", ServiceLabel(s.Name) + ",reply=\"" + ReplyName(r) + "\"",
                     s.Counters.Replies[r]);

    e.Single("trelubki_send_queue_bytes", "gauge", "Bytes waiting in all send queues together.", in.SendQueueBytes);
    e.Single("trelubki_readers_held", "gauge",
             "Messenger clients not read now because all send queues together are at their bound.", in.ReadersHeld);
    e.Single("trelubki_reader_holds_total", "counter",
             "Times a messenger client was not read because all send queues together were at their bound.",
             m.ReaderHolds);
    e.Single("trelubki_receive_room_waits_total", "counter",
             "Times a messenger client's long packet waited for room shared by all connections.", m.RoomWaits);

    const TProcessStats& p = in.Process;
    if (p.ResidentBytes >= 0)
        e.Single("trelubki_process_resident_memory_bytes", "gauge", "Resident memory of the process.",
                 static_cast<uint64_t>(p.ResidentBytes));
    if (p.OpenDescriptors >= 0)
        e.Single("trelubki_process_open_fds", "gauge", "Descriptors (on Windows, handles) the process has open.",
                 static_cast<uint64_t>(p.OpenDescriptors));
    if (p.MaxDescriptors >= 0)
        e.Single("trelubki_process_max_fds", "gauge", "The most descriptors the process may open.",
                 static_cast<uint64_t>(p.MaxDescriptors));
    if (p.CpuSeconds >= 0) {
        e.Family("trelubki_process_cpu_seconds_total", "counter", "Processor time used, user and system.");
        e.Sample("trelubki_process_cpu_seconds_total", {}, p.CpuSeconds, "%.6f");
    }
    return std::move(e.Text);
}
