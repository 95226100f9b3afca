// net_client: the endpoint of a player who joins a match.
//
// Writes client-to-host packets: uid[16] name[16] token[16] type[16] value...
// Reads host-to-client packets:  zero[48] type[16] value...
// (64-byte headers, fields at most 15 characters and zero-padded; net_pack.h.)
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/net.h"
#include "net/net_pack.h"
#include "ruvezor/util/qel_driver.h"  // driver_timer_get_ticks
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_web.h"  // qel_lookup_name

namespace {

// The token text is key "|" challenge in 255 characters; our hosts send at
// most 10 digits.
constexpr size_t MAX_TOKEN_TEXT = 255;
constexpr size_t MAX_CHALLENGE = 10;

}  // namespace

NetClient::Start NetClient::start() {
    if (opened == 1) return Start::ok;
    if (key.size() + 1 + MAX_CHALLENGE > MAX_TOKEN_TEXT)
        qel_log("net: join key of %d characters is too long to answer a challenge\n",
                static_cast<int>(key.size()));
    // A port outside 16 bits would silently join another port.
    if (port < 0 || port > 65535) {
        qel_log("net: port %d is not a port number\n", port);
        return Start::no_host;
    }
    enet_host = enet_host_create(nullptr, 1, NET_CHANNELS, 0, 0);
    if (!enet_host) {
        int why = errno;
        qel_log("An error occurred while trying to create an ENet client host. (2)\n");
        qel_log("net: cannot make a client endpoint: %s\n", why ? strerror(why) : "no reason given");
        return Start::no_host;
    }
    enet_host_compress_with_range_coder(enet_host);
    enet_host->maximumPacketSize = NET_MAX_PACKET;

    // A name that does not resolve is reported at once, as a lost connection.
    ENetAddress address;
    memset(&address, 0, sizeof(address));
    ENetPeer* peer = nullptr;
    if (enet_address_set_host(&address, qel_lookup_name(host.c_str())) == 0) {
        address.port = static_cast<enet_uint16>(port);
        peer = enet_host_connect(enet_host, &address, NET_CHANNELS, NET_VERSION);
    }
    if (!peer) {
        qel_log("net: cannot connect to %s:%d\n", host.c_str(), port);
        enet_host_destroy(enet_host);
        enet_host = nullptr;
        receive("", "disconnect", "");
        closed = 1;
        outbox.clear();
        return Start::no_peer;
    }
    set_patience(peer);
    // The silence of a host that never answers counts from the call.
    heard_at = driver_timer_get_ticks();
    heard_enet = peer->lastReceiveTime;
    NetPeer* p = new NetPeer();
    p->peer = peer;
    peer->data = p;
    peers.push_back(p);
    opened = 1;
    closed = 0;
    return Start::ok;
}

void NetClient::open() { start(); }

bool NetClient::open_checked() { return start() == Start::ok; }

void NetClient::handle_packet(const ENetPacket* packet) {
    std::string data(reinterpret_cast<const char*>(packet->data), packet->dataLength);
    int cut = 0;
    std::string raw = net_unpack(data, &cut);
    NetHostHeader h;
    if (cut || !net_header_read(raw, &h)) {
        if (malformed_log.allow(driver_timer_get_ticks() / 1000))
            qel_log("net: dropped a malformed packet of %d bytes from the host\n",
                    static_cast<int>(packet->dataLength));
        return;
    }
    std::string value = raw.substr(NET_HEADER_SIZE);
    if (strcmp(h.type, "challenge") == 0) {
        NetPeer* hp = peers.empty() ? nullptr : peers[0];
        if (!hp) return;
        if (!key.empty()) {
            // The host formats key "|" challenge into 255 characters; a longer
            // challenge cannot come from a host of ours.
            std::string challenge(value.c_str());
            if (key.size() + 1 + challenge.size() > MAX_TOKEN_TEXT) {
                qel_log("net: challenge of %d bytes is too long, ignored\n",
                        static_cast<int>(challenge.size()));
                return;
            }
            hp->token = mk_token2(key.c_str(), challenge.c_str());
        }
        hp->joined = 1;
        receive("", "connect", "");
        send("", "ping", "", 1);
        return;
    }
    receive("", h.type, value);
}

void NetClient::send_outbox() {
    NetPeer* hp = peers.empty() ? nullptr : peers[0];
    if (!hp || !hp->joined) return;  // held until the challenge is answered
    for (const NetMessage& m : outbox) {
        NetClientHeader h;
        net_header_field(h.uid, uid);
        net_header_field(h.name, name);
        net_header_field(h.token, hp->token);
        net_header_field(h.type, m.type);
        std::string raw(reinterpret_cast<const char*>(&h), sizeof(h));
        raw += m.value;
        int cut = 0;
        std::string packed = net_pack(raw, &cut);
        if (cut || raw.size() > static_cast<size_t>(NET_PACK_SIZE)) {
            qel_log("net: message \"%s\" of %d bytes is too long to send, dropped\n",
                    h.type, static_cast<int>(m.value.size()));
            continue;
        }
        send_packet(hp->peer, packed, m.reliable);
    }
    outbox.clear();
}

void NetClient::loop(int timeout_ms) {
    if (opened != 1) return;
    bool ended = false;
    // What the game has read goes; what it has not waits for the next frame.
    if (inbox_cursor > 0 && static_cast<size_t>(inbox_cursor) <= inbox.size()) {
        inbox.erase(inbox.begin(), inbox.begin() + inbox_cursor);
        inbox_cursor = 0;
    }
    size_t taken = 0, waiting = 0;
    for (const NetMessage& m : inbox) waiting += m.value.size();
    auto more = [&] { return taken < max_inbox && inbox.size() < max_inbox && waiting < max_inbox_bytes; };
    bool heard = false;
    service(timeout_ms, [&](const ENetEvent& ev) {
        heard = true;
        switch (ev.type) {
        case ENET_EVENT_TYPE_DISCONNECT:
            if (ev.data != static_cast<enet_uint32>(NET_VERSION) && ev.data != 0) {
                char text[96];
                snprintf(text, sizeof(text), "incompatible server v%d (you have v%d)",
                         static_cast<int>(ev.data), NET_VERSION);
                receive("", "error", text);
            }
            receive("", "disconnect", "");
            ended = true;
            break;
        case ENET_EVENT_TYPE_RECEIVE: {
            size_t had = inbox.size();
            taken++;
            handle_packet(ev.packet);
            for (size_t i = had; i < inbox.size(); i++) waiting += inbox[i].value.size();
            break;
        }
        default:
            break;
        }
    }, more);
    // Silence counts only once everything that came has been read: an inbox
    // at its bound leaves datagrams waiting, and so does a long frame.
    if (!ended && more() && host_gone(heard)) {
        receive("", "disconnect", "");
        ended = true;
    }
    if (!ended) send_outbox();
    enet_host_flush(enet_host);
    if (ended) deinit();
}

bool NetClient::host_gone(bool heard) {
    NetPeer* hp = peers.empty() ? nullptr : peers[0];
    if (!hp || !hp->peer) return false;
    // What the host sent counts, and so do its acknowledgements of ours
    // (ENet's receive time, which only they move): a match with nothing to
    // say is still a live one.
    int32_t now = driver_timer_get_ticks();
    if (heard || hp->peer->lastReceiveTime != heard_enet || now < heard_at) {
        heard_enet = hp->peer->lastReceiveTime;
        heard_at = now;
        return false;
    }
    if (now - heard_at < NET_CLIENT_SILENCE_MS) return false;
    qel_log("net: nothing heard from %s:%d for %d s: the connection is lost\n", host.c_str(), port,
            (now - heard_at) / 1000);
    // Told at once: a disconnect that waited for an answer would hold the
    // frame for a host that will never give one. A host that is only cut off
    // learns of it if the word gets through.
    enet_peer_disconnect_now(hp->peer, 0);
    return true;
}

NetClient::~NetClient() = default;

int NetLocal::is_local() { return 1; }

NetLocal::~NetLocal() = default;
