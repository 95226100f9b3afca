// net: the endpoint base classes, their queues and closing an ENet host.
#include "net/net.h"

#include <algorithm>  // max, min
#include <utility>    // move

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_md5.h"  // md5_hex for long account ids

// ---- Net --------------------------------------------------------------------

void Net::open() {}

void Net::loop(int) {}

void Net::deinit() {}

std::string Net::get_name(const std::string&) { return std::string(); }

int Net::is_local() { return 0; }

int Net::count_peers() { return 0; }

Net::~Net() = default;

bool Net::open_checked() { return true; }

void Net::init(const std::string& host_, int port_, const std::string& uid_,
               const std::string& name_, const std::string& key_) {
    host = host_;
    port = port_;
    uid = uid_;
    name = name_;
    key = key_;
    opened = 0;
    closed = 0;
}

namespace {

// Values of sent messages kept for their room: enough for a full pass over
// the item table, and none that grew large.
constexpr size_t SPARE_VALUES = 8192;
constexpr size_t SPARE_VALUE_ROOM = 4096;

NetMessage& dropped_message() {
    static NetMessage dropped;
    dropped = NetMessage();
    return dropped;
}

// A message for `to` of `type` at the end of the outbox, its value empty.
NetMessage& outbox_add(Net& net, const std::string& to, const std::string& type, int reliable) {
    NetMessage& m = net.outbox.emplace_back();
    m.uid = to;
    m.name = net.get_name(to);
    m.type = type;
    m.reliable = reliable;
    return m;
}

}  // namespace

// Made in place at the end of the outbox; only the value's buffer is
// recycled, the short strings of the rest are cheaper to make afresh.
NetMessage& Net::queue(const std::string& to, const std::string& type, int reliable) {
    if (closed) return dropped_message();
    NetMessage& m = outbox_add(*this, to, type, reliable);
    outbox_taken++;
    if (!outbox_room.empty()) {
        m.value.swap(outbox_room.back());
        outbox_room.pop_back();
    }
    return m;
}

// The value comes whole: a recycled buffer would only be thrown away.
void Net::send(const std::string& to, const std::string& type, std::string value, int reliable) {
    if (!closed) outbox_add(*this, to, type, reliable).value = std::move(value);
}

void Net::send(const std::string& to, const std::string& type, const char* data, size_t len, int reliable) {
    queue(to, type, reliable).value.assign(data, len);
}

void Net::outbox_sent() {
    // As many values as one send's worth of queue() calls took at most (a
    // full pass over the item table): values that came whole through send()
    // would otherwise pile up to the cap, a few each second, on a host that
    // runs for hours.
    outbox_most = std::max(outbox_most, outbox_taken);
    outbox_taken = 0;
    const size_t keep = std::min(outbox_most, SPARE_VALUES);
    for (NetMessage& m : outbox) {
        if (outbox_room.size() >= keep) break;
        // A value that never left the string's own short buffer has no room to keep.
        size_t room = m.value.capacity();
        if (room > std::string().capacity() && room <= SPARE_VALUE_ROOM) outbox_room.push_back(std::move(m.value));
    }
    outbox.clear();
}

void Net::send(const std::string& value, int reliable) { send("", "message", value, reliable); }

void Net::receive(const std::string& from, const std::string& type, const std::string& value) {
    NetMessage m;
    m.uid = from;
    m.name = get_name(from);
    m.type = type;
    m.value = value;
    inbox.push_back(std::move(m));
}

int Net::poll(NetMessage* out) {
    if (inbox_cursor < 0 || static_cast<size_t>(inbox_cursor) >= inbox.size()) {
        inbox.clear();
        inbox_cursor = 0;
        return 0;
    }
    // Moved out: nothing reads a message behind the cursor again.
    *out = std::move(inbox[inbox_cursor++]);
    if (static_cast<size_t>(inbox_cursor) >= inbox.size()) {
        inbox.clear();
        inbox_cursor = 0;
    }
    return 1;
}

const NetMessage* Net::peek() const {
    if (inbox_cursor < 0 || static_cast<size_t>(inbox_cursor) >= inbox.size()) return nullptr;
    return &inbox[static_cast<size_t>(inbox_cursor)];
}

size_t Net::unread() const {
    if (inbox_cursor < 0 || static_cast<size_t>(inbox_cursor) >= inbox.size()) return 0;
    return inbox.size() - static_cast<size_t>(inbox_cursor);
}

// ---- NetENet ------------------------------------------------------------------

void NetENet::deinit() { close_host(); }

void NetENet::close_host() {
    if (opened != 1) return;
    // Wait only for connections that will answer: ENet resets one that never
    // finished connecting at once, and one already gone or a zombie sends
    // nothing more, so waiting for those would only burn the 500 ms.
    std::vector<ENetPeer*> waiting;
    for (NetPeer* p : peers) {
        if (p->peer) {
            enet_peer_disconnect(p->peer, 0);
            if (p->peer->state == ENET_PEER_STATE_DISCONNECTING) waiting.push_back(p->peer);
            p->peer->data = nullptr;
        }
        delete p;
    }
    peers.clear();
    enet_host_flush(enet_host);

    int start = driver_timer_get_ticks();
    while (!waiting.empty()) {
        if (driver_timer_get_ticks() - start > 499) break;
        ENetEvent ev;
        if (enet_host_service(enet_host, &ev, 500) <= 0) break;
        if (ev.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(ev.packet);
        if (ev.type == ENET_EVENT_TYPE_DISCONNECT) std::erase(waiting, ev.peer);
    }

    enet_host_destroy(enet_host);
    enet_host = nullptr;
    opened = 0;
    closed = 1;
    outbox.clear();
}

std::string NetENet::get_name(const std::string& who) {
    for (const NetPeer* p : peers)
        if (p->uid == who) return p->name;
    return std::string();
}

int NetENet::count_peers() { return static_cast<int>(peers.size()); }

NetENet::~NetENet() { close_host(); }

void NetENet::send_packet(ENetPeer* peer, const std::string& packed, int reliable) {
    // The range coder crashes on an empty packet; a packed header is never empty.
    if (!peer || packed.empty()) return;
    ENetPacket* pk = enet_packet_create(packed.data(), packed.size(),
                                        (reliable & 1) ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (!pk) {
        qel_log("net: out of memory for a packet of %d bytes\n", static_cast<int>(packed.size()));
        return;
    }
    if (enet_peer_send(peer, 0, pk) < 0 && pk->referenceCount == 0) enet_packet_destroy(pk);
}

// ENet gives up on a connection once a datagram went unacknowledged five
// times and 5 s passed: on a quick link (resends 50 ms apart) a Wi-Fi
// hiccup of six seconds ended the match at both ends, though the link came
// back. A peer that truly went away is still let go within 30 s, as before.
void NetENet::set_patience(ENetPeer* peer) {
    if (peer) enet_peer_timeout(peer, NET_TIMEOUT_LIMIT, NET_TIMEOUT_MIN_MS, NET_TIMEOUT_MAX_MS);
}

// ---- account ids -------------------------------------------------------------

std::string net_uid(const std::string& account_id) {
    if (account_id.size() <= NET_UID_MAX) return account_id;
    return account_id.substr(0, 6) + "~" + md5_hex(account_id.data(), account_id.size()).substr(0, 8);
}
