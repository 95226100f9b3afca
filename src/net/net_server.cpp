// net_server: the host endpoint, its join challenge and the join tokens.
//
// Reads client-to-host packets: uid[16] name[16] token[16] type[16] value...
// Writes host-to-client packets: zero[48] type[16] value... (net_build)
// (64-byte headers, fields at most 15 characters and zero-padded; net_pack.h.)
#include <algorithm>  // max, find_if, remove_if
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#if defined(__GLIBC__)
#include <malloc.h>  // malloc_trim: a dropped backlog goes back to the system
#endif

#include <enet/time.h>  // ENET_TIME_LESS, as ENet compares its times

#include "net/net.h"
#include "net/net_pack.h"
#include "ruvezor/util/qel_driver.h"  // driver_timer_get_ticks
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_md5.h"

namespace {

constexpr int MAX_PEERS = 256;
// key "|" uid(15) "|" name(15) must fit the 255 characters of the token text.
constexpr size_t MAX_KEY = 223;

char token_buf[256];

// ENet itself turns away handshakes from an address beyond this many times
// the cap, before they reach a slot of ours (they are never logged).
constexpr int HANDSHAKE_CAP_FACTOR = 2;

const char* _net_ip(const ENetAddress& a) {
    static char text[64];
    if (enet_address_get_host_ip(&a, text, sizeof(text)) < 0) snprintf(text, sizeof(text), "?");
    return text;
}

// Reliable sequence number s comes at or before mark (numbers wrap at 16 bits).
bool _net_seq_upto(uint16_t s, uint16_t mark) { return static_cast<uint16_t>(mark - s) < 0x8000u; }

// Types of the notices the endpoint itself puts into its inbox (here and on
// a client): a peer that sends one would speak for the endpoint.
bool _net_notice(const char* type) {
    for (const char* t : {"join", "rejoin", "leave", "connect", "disconnect", "error"})
        if (strcmp(type, t) == 0) return true;
    return false;
}

// Counts `add` more in the window of window_ms that began at *at (a new one
// once it is over, or when the timer went back); true past `most`.
bool _net_over(int32_t now, int32_t window_ms, int32_t most, int32_t* at, int32_t* count, int32_t add = 1) {
    if (*count == 0 || now - *at >= window_ms || now < *at) {
        *at = now;
        *count = 0;
    }
    *count += add;
    return *count > most;
}

// The header of the datagram ENet holds names connection e as ENet checks
// it: a connection that is there, the address and port it came from, and
// its session (field is the header's first 16 bits, in host order).
bool _net_header_fits(const ENetHost* host, const ENetPeer* e, uint16_t field) {
    if (e->state == ENET_PEER_STATE_DISCONNECTED || e->state == ENET_PEER_STATE_ZOMBIE) return false;
    if ((host->receivedAddress.host != e->address.host || host->receivedAddress.port != e->address.port) &&
        e->address.host != ENET_HOST_BROADCAST)
        return false;
    uint16_t session = (field & ENET_PROTOCOL_HEADER_SESSION_MASK) >> ENET_PROTOCOL_HEADER_SESSION_SHIFT;
    return e->outgoingPeerID >= ENET_PROTOCOL_MAXIMUM_PEER_ID || session == e->incomingSessionID;
}

// Whether ENet acts on a command of the datagram it holds for connection e,
// checked as ENet checks them, in order, up to the first it would throw away
// with the rest. A compressed datagram is decoded here, into the buffer and
// form ENet decodes it to, so that ENet does not decode it again.
bool _net_taken(ENetHost* host, const ENetPeer* e, uint16_t field) {
    if (host->checksum) return true;  // not used by this game: counted unchecked
    size_t head = (field & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? sizeof(ENetProtocolHeader) : sizeof(enet_uint16);
    if (host->receivedDataLength < head) return false;
    if (field & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED) {
        if (!host->compressor.context || !host->compressor.decompress) return false;
        enet_uint8* out = host->packetData[1];
        size_t room = sizeof(host->packetData[1]) - head;
        size_t size = host->compressor.decompress(host->compressor.context, host->receivedData + head,
                                                  host->receivedDataLength - head, out + head, room);
        if (size == 0 || size > room) return false;
        memcpy(out, host->receivedData, head);
        uint16_t plain = ENET_HOST_TO_NET_16(static_cast<uint16_t>(field & ~ENET_PROTOCOL_HEADER_FLAG_COMPRESSED));
        memcpy(out, &plain, sizeof(plain));
        host->receivedData = out;
        host->receivedDataLength = head + size;
    }
    const enet_uint8* at = host->receivedData + head;
    const enet_uint8* end = host->receivedData + host->receivedDataLength;
    bool sending = e->state == ENET_PEER_STATE_CONNECTED || e->state == ENET_PEER_STATE_DISCONNECT_LATER;
    bool taken = false;
    while (at + sizeof(ENetProtocolCommandHeader) <= end) {
        const auto* c = reinterpret_cast<const ENetProtocol*>(at);
        uint8_t kind = c->header.command & ENET_PROTOCOL_COMMAND_MASK;
        if (kind >= ENET_PROTOCOL_COMMAND_COUNT) break;
        size_t size = enet_protocol_command_size(kind);
        if (size == 0 || static_cast<size_t>(end - at) < size) break;
        at += size;
        size_t data = 0;  // the bytes of a packet that follow the command
        switch (kind) {
        case ENET_PROTOCOL_COMMAND_ACKNOWLEDGE: {
            // One that acknowledges a time still to come does nothing.
            enet_uint32 sent = ENET_NET_TO_HOST_16(c->acknowledge.receivedSentTime);
            sent |= host->serviceTime & 0xFFFF0000u;
            if ((sent & 0x8000u) > (host->serviceTime & 0x8000u)) sent -= 0x10000u;
            taken = taken || !ENET_TIME_LESS(host->serviceTime, sent);
            continue;
        }
        case ENET_PROTOCOL_COMMAND_CONNECT:
            return taken;  // never from a connection
        case ENET_PROTOCOL_COMMAND_VERIFY_CONNECT:
            continue;  // the host's connections never wait for one
        case ENET_PROTOCOL_COMMAND_DISCONNECT:
            taken = taken || e->state != ENET_PEER_STATE_ACKNOWLEDGING_DISCONNECT;
            continue;
        case ENET_PROTOCOL_COMMAND_PING:
        case ENET_PROTOCOL_COMMAND_BANDWIDTH_LIMIT:
        case ENET_PROTOCOL_COMMAND_THROTTLE_CONFIGURE:
            if (!sending) return taken;
            taken = true;
            continue;
        case ENET_PROTOCOL_COMMAND_SEND_RELIABLE:
            data = ENET_NET_TO_HOST_16(c->sendReliable.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
            data = ENET_NET_TO_HOST_16(c->sendUnreliable.dataLength);
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
            data = ENET_NET_TO_HOST_16(c->sendUnsequenced.dataLength);
            break;
        default:  // the two kinds of fragment
            data = ENET_NET_TO_HOST_16(c->sendFragment.dataLength);
            break;
        }
        if (!sending || c->header.channelID >= e->channelCount || data > host->maximumPacketSize ||
            static_cast<size_t>(end - at) < data)
            return taken;
        at += data;
        taken = true;
    }
    return taken;
}

// The host whose loop is servicing ENet, for ENet's look at each datagram.
NetServer* serving = nullptr;

// First 15 lowercase hex digits of MD5 of the text, into token_buf.
const char* md5_15(const char* text) {
    snprintf(token_buf, 16, "%s", md5_hex(text, strlen(text)).c_str());
    return token_buf;
}

}  // namespace

const char* mk_token2(const char* a, const char* b) {
    char text[256];
    snprintf(text, sizeof(text), "%s|%s", a ? a : "", b ? b : "");
    return md5_15(text);
}

const char* mk_token3(const char* a, const char* b, const char* c) {
    char first[16];
    snprintf(first, sizeof(first), "%s", mk_token2(a, b));
    return mk_token2(first, c);
}

int _count_uid(NetServer* server, const std::string& uid) {
    int n = 0;
    for (const NetPeer* p : server->peers)
        if (p->uid == uid) n++;
    return n;
}

bool NetServer::open_checked() {
    if (opened == 1) return true;
    // Said once here rather than on every refused join.
    if (key.size() > MAX_KEY)
        qel_log("net: join key of %d characters is longer than %d: every join will be refused\n",
                static_cast<int>(key.size()), static_cast<int>(MAX_KEY));
    // A port outside 16 bits would silently host on another port.
    if (port < 0 || port > 65535) {
        qel_log("net: port %d is not a port number\n", port);
        qel_log("An error occurred while trying to create an ENet server host. (1)\n");
        return false;
    }
    ENetAddress address;
    memset(&address, 0, sizeof(address));
    address.host = ENET_HOST_ANY;
    address.port = static_cast<enet_uint16>(port);
    errno = 0;
    enet_host = enet_host_create(&address, MAX_PEERS, NET_CHANNELS, 0, 0);
    if (!enet_host) {
        int why = errno;
        qel_log("An error occurred while trying to create an ENet server host. (1)\n");
        qel_log("net: cannot host on port %d: %s\n", port, why ? strerror(why) : "no reason given");
        return false;
    }
    enet_host_compress_with_range_coder(enet_host);
    enet_host->maximumPacketSize = NET_MAX_PACKET;
    enet_host->intercept = intercept;
    opened = 1;
    return true;
}

// How often (in host loops) a connection's resend in flight is looked for:
// the walk over its output that tells costs as much as the output is long.
constexpr uint32_t RESEND_LOOK_LOOPS = 8;

size_t NetServer::backlog(const NetPeer* p, bool* resend_pending) {
    bool pending = false;
    size_t bytes = 0;
    const ENetPeer* e = p->peer;
    if (e) {
        // Queued, and sent but not acknowledged; what has gone is freed.
        for (const ENetList* list : {&e->outgoingCommands, &e->sentReliableCommands}) {
            for (ENetListIterator it = enet_list_begin(list); it != enet_list_end(list);
                 it = enet_list_next(it)) {
                const ENetOutgoingCommand* c = reinterpret_cast<const ENetOutgoingCommand*>(it);
                bytes += sizeof(ENetOutgoingCommand) + c->fragmentLength;
                if (p->resend == 2 && c->command.header.channelID == 0 &&
                    (c->command.header.command & ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE) &&
                    _net_seq_upto(c->reliableSequenceNumber, p->resend_mark))
                    pending = true;
            }
        }
    }
    if (resend_pending) *resend_pending = pending;
    return bytes;
}

// As backlog counts; ENet's fragments hold a little more than mtu - 64.
size_t NetServer::packet_cost(const ENetPeer* e, size_t size) {
    size_t fragment = e->mtu > 256 ? e->mtu - 64 : 1024;
    // Nearly every packet is one fragment: no division for those (the host
    // counts this for each packet to each connection).
    size_t fragments = size < fragment ? 1 : 1 + size / fragment;
    return size + sizeof(ENetOutgoingCommand) * fragments;
}

void NetServer::count_backlog(NetPeer* p) {
    p->waiting = backlog(p, nullptr);
    p->counted_loop = loops;
}

void NetServer::open() { open_checked(); }

void NetServer::on_connect(ENetPeer* peer, uint32_t data) {
    if (data != static_cast<uint32_t>(NET_VERSION)) {
        qel_log("net: refused a client of protocol version %u\n", data);
        enet_peer_disconnect(peer, NET_VERSION);
        return;
    }
    if (flooded_lately(peer->address)) {
        refuse_flooder(peer->address);
        enet_peer_disconnect_now(peer, NET_VERSION);
        return;
    }
    // One socket could otherwise take every slot. Turned away at once: a
    // connection waiting for its disconnect to be acknowledged keeps a slot.
    int same = 0;
    for (const NetPeer* q : peers) same += q->peer && q->peer->address.host == peer->address.host;
    if (same >= max_per_address) {
        int32_t now = driver_timer_get_ticks();
        // One line a second at most, with the count of those not logged.
        if (!cap_logged || now - cap_logged_at >= 1000 || now < cap_logged_at) {
            qel_log("net: refused a connection from %s: %d connections from there already (and %d more "
                    "refused since the last such line)\n",
                    _net_ip(peer->address), same, cap_unlogged);
            cap_logged = 1;
            cap_logged_at = now;
            cap_unlogged = 0;
        } else {
            cap_unlogged++;
        }
        enet_peer_disconnect_now(peer, NET_VERSION);
        return;
    }
    NetPeer* p = new NetPeer();
    p->peer = peer;
    p->since = driver_timer_get_ticks();
    peers.push_back(p);
    peer->data = p;
    enet_peer_throttle_configure(peer, 5000, 0, 0);
    set_patience(peer);
    if (!key.empty()) p->challenge = std::to_string(rand());
    NetMessage m;
    m.type = "challenge";
    m.value = p->challenge;
    send_packet(peer, net_build(m), 1);
}

void NetServer::on_disconnect(ENetPeer* peer) {
    NetPeer* p = static_cast<NetPeer*>(peer->data);
    peer->data = nullptr;
    if (p) forget(p);
}

// The connection of record p is gone: its "leave", and the record.
void NetServer::forget(NetPeer* p) {
    if (p->joined && _count_uid(this, p->uid) < 2) receive(p->uid, "leave", "");
    for (size_t i = 0; i < peers.size(); i++) {
        if (peers[i] == p) {
            peers.erase(peers.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    delete p;
}

void NetServer::refuse(NetPeer* p, const char* why) {
    qel_log("net: refusing connection \"%s\": %s\n", p->uid.c_str(), why);
    // From now on the record only waits for ENet's disconnect: later packets
    // are dropped, and an identity it never proved must not count for that
    // uid (a stranger claiming a player's uid would hide the player's "leave"
    // or turn a "join" into a "rejoin").
    p->active = 0;
    if (!p->joined) {
        p->uid.clear();
        p->name.clear();
    }
    p->since = driver_timer_get_ticks();  // given the join wait to go
    enet_peer_disconnect(p->peer, NET_VERSION);
}

// What p sent that still waits in the inbox, the endpoint's notices aside:
// nothing a dropped connection asked for is answered. Only the connection
// that speaks for its uid (active and admitted) has messages there.
void NetServer::forget_messages(const NetPeer* p) {
    if (!p->joined || !p->active || inbox_cursor < 0) return;
    size_t from = static_cast<size_t>(inbox_cursor);
    if (from >= inbox.size()) return;
    auto gone = [&](const NetMessage& m) { return m.uid == p->uid && !_net_notice(m.type.c_str()); };
    inbox.erase(std::remove_if(inbox.begin() + static_cast<std::ptrdiff_t>(from), inbox.end(), gone), inbox.end());
}

// Ends p's connection at once, freeing its slot and everything queued for it.
void NetServer::drop(NetPeer* p, const char* why) {
    qel_log("net: dropping connection \"%s\" from %s: %s\n", p->uid.c_str(), _net_ip(p->peer->address), why);
    forget_messages(p);
    ENetPeer* e = p->peer;
    e->data = nullptr;
    enet_peer_disconnect_now(e, NET_VERSION);
    forget(p);
}

// A connection that joins again and again goes, and its address stays away
// for a while: it would otherwise be back at once with a fresh budget. Only
// admissions lead here, never a connection's rate of messages or datagrams:
// a forger of a household's address could otherwise shut the household out.
void NetServer::drop_flooder(NetPeer* p, const char* why) {
    uint32_t from = p->peer->address.host;
    int32_t now = driver_timer_get_ticks();
    auto f = std::find_if(flooders.begin(), flooders.end(), [&](const auto& e) { return e.first == from; });
    if (f != flooders.end()) f->second = now;
    else flooders.emplace_back(from, now);
    drop(p, why);
}

bool NetServer::flooded_lately(const ENetAddress& a) {
    int32_t now = driver_timer_get_ticks();
    // The timer may go back (daily reset): that ends every wait.
    flooders.erase(std::remove_if(flooders.begin(), flooders.end(),
                                  [&](const auto& f) { return now < f.second || now - f.second >= flood_wait_ms; }),
                   flooders.end());
    for (const auto& f : flooders)
        if (f.first == a.host) return true;
    return false;
}

// Counts one more admission from a's address; true past the budget.
bool NetServer::joins_over(const ENetAddress& a, int32_t now) {
    joins.erase(std::remove_if(joins.begin(), joins.end(),
                               [&](const Joins& j) { return now < j.at || now - j.at >= 10000; }),
                joins.end());
    auto j = std::find_if(joins.begin(), joins.end(), [&](const Joins& e) { return e.address == a.host; });
    if (j == joins.end()) {
        joins.push_back(Joins{a.host, now, 0});
        j = joins.end() - 1;
    }
    return _net_over(now, 10000, max_joins_per_ten_seconds, &j->at, &j->count);
}

void NetServer::refuse_flooder(const ENetAddress& a) {
    if (flooder_log.allow(driver_timer_get_ticks() / 1000))
        qel_log("net: refused a connection from %s: a connection from there flooded the host lately\n", _net_ip(a));
}

// ENet shows each datagram here before it decodes it (the range decoder, and
// the sorting of every reliable command into the connection's queue, which
// cost the host far more than handling the messages). A connection sending
// more datagrams than any player's commands and acknowledgements make is
// marked, and its datagrams are thrown away until the loop drops it.
//
// Only what ENet itself would take as the connection's counts: anyone who can
// forge a player's address and port can send datagrams naming the player's
// connection, and those must not cost the player anything. So the datagram
// goes through ENet's own checks first: its header (connection, address and
// session), its decoding, and its commands, of which at least one must be one
// that ENet acts on from that connection.
int ENET_CALLBACK NetServer::intercept(ENetHost* host, ENetEvent*) {
    NetServer* s = serving;
    // ENet throws away what is shorter than a peer id.
    if (!s || s->enet_host != host || host->receivedDataLength < sizeof(enet_uint16)) return 0;
    const auto* h = reinterpret_cast<const ENetProtocolHeader*>(host->receivedData);
    uint16_t field = ENET_NET_TO_HOST_16(h->peerID);
    uint16_t id = field & static_cast<uint16_t>(~(ENET_PROTOCOL_HEADER_FLAG_MASK | ENET_PROTOCOL_HEADER_SESSION_MASK));
    if (id == ENET_PROTOCOL_MAXIMUM_PEER_ID) {
        // A connection request: one from an address whose connections
        // joined too often lately goes unanswered, before ENet makes a
        // connection of it to turn away (it would dial again and again).
        if (s->flooders.empty() || !s->flooded_lately(host->receivedAddress)) return 0;
        s->refuse_flooder(host->receivedAddress);
        return 1;
    }
    if (id >= host->peerCount) return 0;  // ENet's to throw away
    ENetPeer* e = &host->peers[id];
    if (!_net_header_fits(host, e, field)) return 0;  // the same
    NetPeer* p = static_cast<NetPeer*>(e->data);
    if (!p) return 0;
    if (p->flooded) return 1;
    // ENet's to throw away all the same; it still has the last word on what
    // it takes, so what is not counted is left to it.
    if (!_net_taken(host, e, field)) return 0;
    int32_t now = driver_timer_get_ticks();
    if (_net_over(now, 1000, s->max_datagrams_per_second, &p->datagrams_at, &p->datagrams)) {
        p->flooded = 1;
        return 1;
    }
    return 0;
}

void NetServer::watch_peers() {
    int32_t now = driver_timer_get_ticks();
    bool trim = false;
    for (size_t i = 0; i < peers.size();) {
        NetPeer* p = peers[i];
        if (!p->peer) {
            i++;
            continue;
        }
        bool resend_pending = false;
        // Its resend is over once nothing of it waits; that is looked at now
        // and then, as it only holds back the next one.
        // (Not for one past the bound: its count would hide what would wait.)
        bool look = !p->over && p->resend == 2 && loops - p->resend_looked >= RESEND_LOOK_LOOPS;
        if (look) {
            p->waiting = backlog(p, &resend_pending);
            p->counted_loop = p->resend_looked = loops;
        }
        if (p->over || p->waiting > max_unacked) {
            char why[96];
            snprintf(why, sizeof(why), "%zu bytes wait for its acknowledgement", p->waiting);
            drop(p, why);
            trim = true;
            continue;
        }
        if (now < p->since) p->since = now;  // the timer went back (daily reset)
        if ((!p->joined || !p->active) && now - p->since >= join_wait_ms) {
            drop(p, p->active     ? "did not join in time"
                    : p->replaced ? "did not go when a newer connection of its uid came"
                                  : "did not go when refused");
            continue;
        }
        if (look && !resend_pending) {
            p->resend = 0;
            if (p->resend_again) {
                // What it asked for while the last one was under way.
                p->resend_again = 0;
                p->resend = 1;
                p->resend_loop = loops;
                receive(p->uid, "refresh", "");
            }
        }
        i++;
    }
#if defined(__GLIBC__)
    if (trim) malloc_trim(0);
#else
    (void)trim;
#endif
}

void NetServer::on_receive(ENetPeer* peer, const ENetPacket* packet) {
    NetPeer* p = static_cast<NetPeer*>(peer->data);
    if (p && p->flooded) return;  // goes at the end of this service
    if (!p || !p->active) {
        // Said once: a refused peer may have sent thousands more behind.
        if (!p || p->ignored++ == 0) qel_log("net: dropped a packet from a closing connection\n");
        return;
    }
    std::string data(reinterpret_cast<const char*>(packet->data), packet->dataLength);
    int cut = 0;
    std::string raw = net_unpack(data, &cut);
    NetClientHeader h;
    if (cut || !net_header_read(raw, &h)) {
        refuse(p, "malformed packet");
        return;
    }
    if (p->uid.empty()) {
        p->uid = h.uid;
        p->name = h.name;
        if (p->uid.empty()) {
            refuse(p, "no uid");
            return;
        }
        // A hosting mod names its own host "$": a player of that uid would
        // be sent nothing, and what the mod sends itself would go to them.
        if (p->uid == "$") {
            refuse(p, "uid \"$\" names the host");
            return;
        }
    }
    if (strcmp(h.type, "disconnect") == 0) {
        refuse(p, "asked to disconnect");
        return;
    }
    if (_net_notice(h.type)) {
        char why[64];
        snprintf(why, sizeof(why), "sent \"%s\", a notice only the host makes", h.type);
        refuse(p, why);
        return;
    }
    if (p->name.empty() || p->uid != h.uid || p->name != h.name) {
        refuse(p, "uid or name mismatch");
        return;
    }
    if (!key.empty()) {
        if (key.size() > MAX_KEY) {
            refuse(p, "the host's join key is too long");
            return;
        }
        if (p->token.empty()) {
            std::string who = p->uid + "|" + p->name;
            p->token = mk_token3(key.c_str(), who.c_str(), p->challenge.c_str());
        }
        if (p->token != h.token) {
            refuse(p, "wrong token");
            return;
        }
    }
    // Each message costs the host's loop its handling and the mod's event: a
    // connection sending as fast as its link goes held the loop for seconds,
    // long enough for the other players to time out. Such a connection goes,
    // with what it sent that still waits.
    int32_t now = driver_timer_get_ticks();
    if (_net_over(now, 1000, max_per_second, &p->burst_at, &p->burst)) {
        char why[64];
        snprintf(why, sizeof(why), "sent more than %d messages in one second", max_per_second);
        drop(p, why);
        return;
    }
    // Kept up below that, a few connections' messages would still take the
    // whole loop: what a player sends in ten seconds is far less.
    if (_net_over(now, 10000, max_per_ten_seconds, &p->spell_at, &p->spell)) {
        char why[64];
        snprintf(why, sizeof(why), "sent more than %d messages in ten seconds", max_per_ten_seconds);
        drop(p, why);
        return;
    }
    // Within those counts, messages of 64 KiB each (a kilobyte packed) are
    // unpacked, copied and handed to the mod by the hundred megabytes a second.
    if (_net_over(now, 10000, max_bytes_per_ten_seconds, &p->bytes_at, &p->bytes, static_cast<int32_t>(raw.size()))) {
        char why[64];
        snprintf(why, sizeof(why), "sent more than %d bytes in ten seconds", max_bytes_per_ten_seconds);
        drop(p, why);
        return;
    }
    // Every full resend of the world (the answer to its "join" or "rejoin",
    // and to "refresh") is made once, and until it is acknowledged further
    // "refresh" requests only ask for one more after it: a peer that asks
    // again and again and never acknowledges would otherwise make the host
    // queue the world for it without end.
    bool refresh = strcmp(h.type, "refresh") == 0;
    if (!p->joined) {
        if (joins_over(peer->address, now)) {
            char why[64];
            snprintf(why, sizeof(why), "joined more than %d times in ten seconds", max_joins_per_ten_seconds);
            drop_flooder(p, why);
            return;
        }
        p->joined = 1;
        p->resend = 1;
        p->resend_loop = loops;
        if (_count_uid(this, p->uid) < 2) {
            receive(p->uid, "join", "");
        } else {
            qel_log("going to disconnect extras...\n");
            for (size_t i = 0; i < peers.size(); i++) {
                NetPeer* other = peers[i];
                if (other == p || other->uid != p->uid) continue;
                qel_log("disconnecting: %d\n", static_cast<int>(i));
                // Who came back and from where: a slot number tells the operator nothing.
                std::string was = other->peer ? _net_ip(other->peer->address) : "?";
                qel_log("net: \"%s\" joined again from %s: its older connection from %s goes\n", p->uid.c_str(),
                        _net_ip(peer->address), was.c_str());
                other->active = 0;
                other->replaced = 1;
                other->since = now;  // given the join wait to go
                enet_peer_disconnect(other->peer, 0);
            }
            receive(p->uid, "rejoin", "");
        }
        if (refresh) return;  // the join's resend answers it
    } else if (refresh) {
        if (p->resend) {
            p->resend_again = 1;
            return;
        }
        p->resend = 1;
        p->resend_loop = loops;
    }
    receive(p->uid, h.type, raw.substr(NET_HEADER_SIZE));
}

void NetServer::send_outbox() {
    std::string packed;  // one buffer for every packet of the frame
    for (const NetMessage& m : outbox) {
        int cut = 0;
        net_build_into(m, packed, &cut);
        if (cut) {
            qel_log("net: message \"%.15s\" of %d bytes is too long to send, dropped\n",
                    m.type.c_str(), static_cast<int>(m.value.size()));
            continue;
        }
        // Everybody (an empty uid) means every admitted connection: one that
        // has not answered its challenge gets nothing but the challenge.
        ENetPacket* pk = nullptr;
        for (NetPeer* p : peers) {
            if (!p->active || !p->joined || !p->peer || p->over || (!m.uid.empty() && p->uid != m.uid)) continue;
            // The backlog bound holds within the loop too: what one loop's
            // messages (a burst of requests answered) would queue past it is
            // never queued, and the peer goes at the loop's end.
            size_t cost = packet_cost(p->peer, packed.size());
            // The bound is an upper one: count once before refusing.
            if (p->waiting + cost > max_unacked && p->counted_loop != loops) count_backlog(p);
            p->waiting += cost;
            if (p->waiting > max_unacked) {
                p->over = 1;  // waiting is what would wait
                continue;
            }
            if (!pk) {
                pk = enet_packet_create(packed.data(), packed.size(),
                                        (m.reliable & 1) ? ENET_PACKET_FLAG_RELIABLE : 0);
                if (!pk) {
                    qel_log("net: out of memory for a packet of %d bytes\n", static_cast<int>(packed.size()));
                    break;
                }
            }
            enet_peer_send(p->peer, 0, pk);
        }
        if (pk && pk->referenceCount == 0) enet_packet_destroy(pk);
    }
    outbox_sent();
    // A resend asked for in an earlier loop went out just now: it is under
    // way until its last packet is acknowledged.
    for (NetPeer* p : peers) {
        if (p->resend != 1 || p->resend_loop == loops || !p->peer || p->peer->channelCount < 1) continue;
        p->resend = 2;
        p->resend_mark = p->peer->channels[0].outgoingReliableSequenceNumber;
    }
}

void NetServer::loop(int timeout_ms) {
    if (opened != 1) return;
    loops++;
    enet_host->duplicatePeers = static_cast<size_t>(std::max(max_per_address, 1) * HANDSHAKE_CAP_FACTOR);
    serving = this;
    service(timeout_ms, [&](const ENetEvent& ev) {
        switch (ev.type) {
        case ENET_EVENT_TYPE_CONNECT:
            on_connect(ev.peer, ev.data);
            break;
        case ENET_EVENT_TYPE_DISCONNECT:
            on_disconnect(ev.peer);
            break;
        case ENET_EVENT_TYPE_RECEIVE:
            on_receive(ev.peer, ev.packet);
            break;
        default:
            break;
        }
    });
    serving = nullptr;
    for (size_t i = 0; i < peers.size();) {
        NetPeer* p = peers[i];
        if (p->flooded && p->peer) {
            char why[64];
            snprintf(why, sizeof(why), "sent more than %d datagrams in one second", max_datagrams_per_second);
            drop(p, why);
            continue;
        }
        i++;
    }
    send_outbox();
    enet_host_flush(enet_host);
    watch_peers();
}

NetServer::~NetServer() = default;
