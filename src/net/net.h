// net: the match's network endpoints over ENet (one channel, reliable UDP).
//
// Game code never touches ENet: it queues messages with Net::send, calls the
// endpoint's loop once a frame (which services ENet, fills the inbox and sends
// the outbox) and drains the inbox with Net::poll.
#pragma once

#include <enet/enet.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>  // pair
#include <vector>

#include "ruvezor/util/qel_log.h"  // QelLogLimit

// Connect data of every client and disconnect data of every refusal.
constexpr int NET_VERSION = 12;
constexpr int NET_CHANNELS = 1;
// The largest packet ENet will gather from its fragments. A real packet is
// at most the wire limit (64 KiB) packed, a little more for literal codes;
// past this ENet drops the fragments instead of holding ENet's own default of
// 32 MB per packet for a peer that never finishes one.
constexpr size_t NET_MAX_PACKET = 2u << 20;
// A connection counts as lost when a datagram went unacknowledged through
// resends whose wait grew to LIMIT times the first, and MIN_MS passed since;
// or when MAX_MS passed whatever the resends.
constexpr int NET_TIMEOUT_LIMIT = 32;
constexpr int NET_TIMEOUT_MIN_MS = 15000;
constexpr int NET_TIMEOUT_MAX_MS = 30000;
// A client that has heard nothing at all from its host for this long (game
// clock) counts the host as gone: a live host answers every datagram and
// pings an idle link twice a second, so only a dead host or a broken link is
// this quiet. Longer than the stalls a link comes back from.
constexpr int NET_CLIENT_SILENCE_MS = 8000;

// One message, copied by value.
struct NetMessage {
    // The members' own initialisers are the whole of a new message. Without a
    // constructor of its own, `emplace_back()` would zero all 136 bytes first,
    // once for every item of a sync pass.
    NetMessage() {}
    std::string uid;    // sender (host inbox) or addressee (host outbox); "" = all / the host
    std::string name;   // display name of the peer, from get_name(uid)
    std::string type;   // at most 15 characters on the wire
    std::string value;  // any bytes, zero bytes included
    int32_t reliable = 0;  // lowest bit: reliable ENet packet
    int32_t spare = 0;
};

// One ENet connection; owned by the endpoint's peer list.
struct NetPeer {
    int32_t active = 1;
    int32_t joined = 0;        // admitted (host) or challenge answered (client)
    ENetPeer* peer = nullptr;
    std::string uid;           // remote account id (host side)
    std::string name;          // remote display name (host side)
    std::string challenge;     // decimal challenge sent to this peer (host side)
    std::string token;         // expected (host) or computed (client) join token
    // Host side only: the guards against a peer that hogs a slot or the
    // host's memory.
    int32_t since = 0;         // timer (ms) at connect, or at refusal
    // Full resend of the world (after "join", "rejoin" or "refresh"): 0 none,
    // 1 asked (going out with the next loop), 2 in flight until every
    // reliable packet up to resend_mark is acknowledged.
    int32_t resend = 0;
    int32_t resend_again = 0;  // another "refresh" came while one was under way
    uint32_t resend_loop = 0;  // the host loop in which it was asked
    uint16_t resend_mark = 0;  // reliable sequence number of its last packet
    int32_t replaced = 0;      // a newer connection of its uid was admitted
    int32_t ignored = 0;       // packets dropped since it was refused or replaced
    // Its backlog at most: as last counted, plus what was queued for it
    // since (acknowledgements only lower it). Counting walks every record of
    // its output, thousands for a connection far behind, so the host counts
    // only when this bound leaves no room, and now and then during a resend.
    // over: a message would have passed the bound and was not queued; the
    // connection goes at the end of the loop, and waiting then holds what
    // would have waited.
    size_t waiting = 0;
    int32_t over = 0;
    uint32_t counted_loop = 0;   // the host loop of the last count
    uint32_t resend_looked = 0;  // the host loop that last looked whether its resend is still out
    int32_t burst_at = 0;      // timer (ms) when its current second of messages began
    int32_t burst = 0;         // messages it sent in that second
    int32_t spell_at = 0;      // the same over ten seconds
    int32_t spell = 0;
    int32_t bytes_at = 0;      // timer (ms) when its current ten seconds of message bytes began
    int32_t bytes = 0;         // bytes of the messages it sent in them, unpacked
    int32_t datagrams_at = 0;  // the same for the datagrams ENet took as its own
    int32_t datagrams = 0;
    int32_t flooded = 0;       // past a budget: ignored until dropped at the end of the service
};

class Net {
public:
    int32_t opened = 0;  // 1 while an ENet host exists
    int32_t closed = 0;  // 1 once a connection ended: nothing is queued any more
    int32_t lag = 0;     // smoothed round-trip time in ms (client)
    std::string uid;
    std::string name;
    std::string key;     // join key
    std::vector<NetMessage> inbox;
    int32_t inbox_cursor = 0;
    std::vector<NetMessage> outbox;
    std::vector<std::string> outbox_room;  // values of sent messages, whose room queue() reuses
    size_t outbox_taken = 0;  // queue() calls since the outbox was last sent
    size_t outbox_most = 0;   // the most of those between two sends: the room kept
    std::string host;
    int32_t port = 0;
    ENetHost* enet_host = nullptr;
    std::vector<NetPeer*> peers;

    Net() = default;
    Net(const Net&) = delete;
    Net& operator=(const Net&) = delete;

    virtual void open();
    virtual void loop(int timeout_ms);
    virtual void deinit();
    virtual std::string get_name(const std::string& uid);
    virtual int is_local();
    virtual int count_peers();
    virtual ~Net();
    // As open(), and says whether it worked: false when no host could be made.
    // Neither ends the program: a failed endpoint stays closed with the reason
    // logged, and its caller decides.
    virtual bool open_checked();

    void init(const std::string& host, int port, const std::string& uid,
              const std::string& name, const std::string& key);
    // Queues for the next loop; nothing leaves before it. A closed endpoint
    // would never send it, so it queues nothing.
    void send(const std::string& uid, const std::string& type, std::string value, int reliable);
    // The same for len raw bytes, copied into a queued message whose room is
    // reused from messages sent before (see outbox_sent).
    void send(const std::string& uid, const std::string& type, const char* data, size_t len, int reliable);
    // Empties the outbox after its messages went out, keeping the room of
    // their values for the next sends: a host queues thousands of item
    // records every second.
    void outbox_sent();
    // Chat form: everybody, type "message".
    void send(const std::string& value, int reliable);
    // A queued message for `to` of `type`, its value still to be filled: it
    // holds the room (and old bytes) of a value sent before, so a caller
    // that writes the value in place allocates nothing. On a closed
    // endpoint a scratch message that is never sent.
    NetMessage& queue(const std::string& to, const std::string& type, int reliable);
    // Appends to the inbox (arriving messages and the endpoint's own notices).
    void receive(const std::string& uid, const std::string& type, const std::string& value);
    // 1 and the next message, or 0 when the inbox is empty.
    int poll(NetMessage* out);
    // The message the next poll gives, null when none waits.
    const NetMessage* peek() const;
    // Messages in the inbox not polled yet.
    size_t unread() const;
};

// An endpoint over an ENet host.
class NetENet : public Net {
public:
    void deinit() override;
    std::string get_name(const std::string& uid) override;
    int count_peers() override;
    // Closes an endpoint that is still open.
    ~NetENet() override;

protected:
    // deinit's work, callable from the destructor (no virtual dispatch there).
    void close_host();
    // Sends packed bytes on channel 0; never queues an empty packet.
    static void send_packet(ENetPeer* peer, const std::string& packed, int reliable);
    // How long a connection waits for acknowledgements before it counts as
    // lost: a link that stalls for a few seconds must not end the match.
    static void set_patience(ENetPeer* peer);
    // Hands every waiting event to `handle`, waiting at most timeout_ms for
    // the first; a received packet is freed once `handle` has seen it.
    // With `more`, stops before an event once it answers false.
    template <typename F>
    void service(int timeout_ms, F handle) {
        service(timeout_ms, handle, [] { return true; });
    }
    template <typename F, typename M>
    void service(int timeout_ms, F handle, M more) {
        ENetEvent ev;
        enet_uint32 wait = timeout_ms > 0 ? static_cast<enet_uint32>(timeout_ms) : 0;
        while (more() && enet_host_service(enet_host, &ev, wait) > 0) {
            wait = 0;
            handle(ev);
            if (ev.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(ev.packet);
        }
    }
};

// The endpoint of a player who joins a match.
class NetClient : public NetENet {
public:
    // Packets one loop takes from the host, and the most that wait unread in
    // the inbox: the game handles a bounded number each frame (a refresh of
    // the whole world fits), and what a host sends faster than that waits
    // in ENet, whose own bound holds the host back, rather than here.
    size_t max_inbox = 16384;
    // The same for the bytes of their values: a host's packet of a kilobyte
    // unpacks to 64 KiB, and the count alone let a host that sent 17 MB have
    // a gigabyte wait here. A refresh of the whole world is about 5 MB.
    size_t max_inbox_bytes = 32u << 20;

    void open() override;
    bool open_checked() override;  // false also when the host name does not resolve
    void loop(int timeout_ms) override;
    ~NetClient() override;

    // Opens the endpoint: no_host when ENet cannot make one (or the port is
    // out of range), no_peer when the host name does not resolve (the
    // endpoint then reports "disconnect").
    enum class Start { ok, no_host, no_peer };
    Start start();

private:
    QelLogLimit malformed_log{"net", "malformed packets from the host were not logged"};
    int32_t heard_at = 0;         // game clock when the host was last heard (or the call began)
    enet_uint32 heard_enet = 0;   // ENet's receive time of the host at that moment
    void handle_packet(const ENetPacket* packet);
    void send_outbox();
    // True, with the host's end told, once the host has been silent too
    // long; `heard`: this loop had an event of it.
    bool host_gone(bool heard);
};

// A client whose own process hosts the match: the world is shared.
class NetLocal : public NetClient {
public:
    int is_local() override;
    ~NetLocal() override;
};

// The endpoint of the process that hosts a match.
class NetServer : public NetENet {
public:
    // Guards against hostile peers (tests narrow them):
    // a connection that has not joined (answered the challenge) within this
    // time is dropped; a refused one that has not gone by then as well;
    int32_t join_wait_ms = 5000;
    // connections from one IP address beyond this many are turned away;
    int32_t max_per_address = 8;
    // a connection whose output waiting for its acknowledgement (data and
    // ENet's own bookkeeping) passes this many bytes is dropped.
    size_t max_unacked = 4u << 20;
    // The message budgets sit above the most the match controls send: a
    // deploy sends one command for each item selected (4,095 at most, a
    // whole world) and takes a press and a release of the pointer, ten a
    // second at the fastest and fifty in ten seconds kept up. No player of
    // ours reaches them. A connection past one is dropped, and its address
    // may dial again at once.
    // A connection that sends more than this many messages within one
    // second is dropped (ten deploys, and room for two more of pings and
    // the mods' messages);
    int32_t max_per_second = 12 * 4096;
    // and more than this many within ten seconds (fifty, and room for six);
    int32_t max_per_ten_seconds = 56 * 4096;
    // a connection whose messages, unpacked, pass this many bytes within ten
    // seconds is dropped: a packet of a kilobyte unpacks to 64 KiB, and the
    // commands of the ten-second budget are at most 128 bytes each;
    int32_t max_bytes_per_ten_seconds = 32 << 20;
    // a connection that sends more than this many datagrams within one
    // second is dropped before ENet decodes the rest: ENet packs at most 32
    // commands in one, and the ten deploys of a second made about 1,500 with
    // their acknowledgements. Only datagrams that ENet takes as the
    // connection's own count: one that merely names it (from a forged source
    // address) is not its doing.
    int32_t max_datagrams_per_second = 8192;
    // An address whose connections are admitted more than this many times
    // within ten seconds is turned away for flood_wait_ms: every admission
    // costs a resend of the whole world, megabytes and a frame of the host's
    // time.
    int32_t max_joins_per_ten_seconds = 16;
    int32_t flood_wait_ms = 30000;

    void open() override;
    bool open_checked() override;  // false when the port cannot be bound
    void loop(int timeout_ms) override;
    ~NetServer() override;

    // Bytes of p's output not yet acknowledged; *resend_pending tells
    // whether its full resend in flight still is.
    static size_t backlog(const NetPeer* p, bool* resend_pending);
    // Bytes a packet of `size` adds to the backlog of the connection of e
    // until acknowledged, at most: its data and ENet's record of each fragment.
    static size_t packet_cost(const ENetPeer* e, size_t size);
    // Counts p's backlog now.
    void count_backlog(NetPeer* p);

private:
    uint32_t loops = 0;            // loop calls so far
    int32_t cap_logged = 0;        // a refusal at the address cap was logged
    int32_t cap_logged_at = 0;     // timer when one was last logged
    int32_t cap_unlogged = 0;      // refusals at the cap since then, not logged one by one
    std::vector<std::pair<uint32_t, int32_t>> flooders;  // address, timer of its last flood drop
    struct Joins {
        uint32_t address;
        int32_t at;     // timer (ms) when its current ten seconds began
        int32_t count;  // admissions in them
    };
    std::vector<Joins> joins;  // addresses admitted within the last ten seconds
    QelLogLimit flooder_log{"net", "connections from a flooding address were turned away", 1};

    void on_connect(ENetPeer* peer, uint32_t data);
    void on_disconnect(ENetPeer* peer);
    void on_receive(ENetPeer* peer, const ENetPacket* packet);
    void refuse(NetPeer* p, const char* why);
    void drop(NetPeer* p, const char* why);
    void drop_flooder(NetPeer* p, const char* why);
    bool flooded_lately(const ENetAddress& a);
    bool joins_over(const ENetAddress& a, int32_t now);
    void refuse_flooder(const ENetAddress& a);
    static int ENET_CALLBACK intercept(ENetHost* host, ENetEvent* event);
    void forget(NetPeer* p);
    void forget_messages(const NetPeer* p);
    void watch_peers();
    void send_outbox();
};

// An account id as packets and the world carry it: header fields and user
// items hold 15 characters. An id that fits is itself; a longer one becomes
// its first 6 characters, "~" and 8 hex digits of the MD5 of the whole id,
// so two ids that begin alike stay two players. Every id put into a packet
// or a user item, and every id compared with one, goes through here.
constexpr size_t NET_UID_MAX = 15;
std::string net_uid(const std::string& account_id);

// Number of connections whose uid equals the given one.
int _count_uid(NetServer* server, const std::string& uid);

// Join tokens: the first 15 lowercase hex digits of MD5(a "|" b), and of
// MD5(mk_token2(a, b) "|" c). Both results live in one static buffer that the
// next call overwrites.
const char* mk_token2(const char* a, const char* b);
const char* mk_token3(const char* a, const char* b, const char* c);
