// Run-length packing, header fields and host packet building, and the host
// sync pass packed against the packer the game first shipped with.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "net/net_pack.h"
#include "net/zentar_server.h"
#include "world/zentar.h"

namespace {

std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s.push_back(static_cast<char>(b));
    return s;
}

// Never repeats a neighbour, so it packs as literals only.
std::string no_repeats(size_t n) {
    std::string s(n, 'a');
    for (size_t i = 1; i < n; i += 2) s[i] = 'b';
    return s;
}

}  // namespace

TEST(NetPack, WorkedExamplesAndBlockLimits) {
    std::string header(64, '\0');
    header[48] = 'R';
    const std::pair<std::string, std::string> cases[] = {
        {"abc", bytes({0x03, 'a', 'b', 'c'})},
        {"aaaa", bytes({0x84, 'a'})},
        {"aab", bytes({0x82, 'a', 0x01, 'b'})},
        {"abbbc", bytes({0x01, 'a', 0x83, 'b', 0x01, 'c'})},
        {"abbc", bytes({0x04, 'a', 'b', 'b', 'c'})},
        {std::string(300, '\0'), bytes({0xff, 0, 0xff, 0, 0xae, 0})},
        {header, bytes({0xb0, 0, 0x01, 'R', 0x8f, 0})},
        {std::string(127, 'x'), bytes({0xff, 'x'})},
        {std::string(128, 'x'), bytes({0xff, 'x', 0x01, 'x'})},
        {"abccc", bytes({0x02, 'a', 'b', 0x83, 'c'})},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(net_pack(in), out) << in.size() << " bytes";
    NetMessage reset;
    reset.type = "R";
    EXPECT_EQ(net_build(reset), bytes({0xb0, 0, 0x01, 'R', 0x8f, 0}));

    // A literal block holds at most 127 bytes.
    std::string packed = net_pack(no_repeats(130));
    ASSERT_EQ(packed.size(), 132u);
    EXPECT_EQ(packed[0], 127);
    EXPECT_EQ(packed[128], 3);
}

TEST(NetPack, RoundTripsEveryShape) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 500; round++) {
        // Small alphabets make runs, large ones literals.
        int alphabet = round % 3 == 0 ? 2 : round % 3 == 1 ? 5 : 256;
        std::string x(rng() % 2000, '\0');
        for (auto& c : x) c = static_cast<char>(rng() % alphabet);
        int cut = -1, ucut = -1;
        std::string packed = net_pack(x, &cut);
        ASSERT_EQ(net_unpack(packed, &ucut), x) << "round " << round;
        EXPECT_EQ(cut + ucut, 0);
    }
}

// Inputs built from runs whose lengths sit on the block limits (1 to 3, 126
// to 129, 254 to 256) and literal stretches with pairs inside: the round trip
// is exact and every block the encoder writes is one it is allowed to write.
TEST(NetPack, RandomRunsRoundTripWithWellFormedBlocks) {
    std::mt19937 rng(8080);
    const int lengths[] = {1, 2, 3, 4, 126, 127, 128, 129, 254, 255, 256};
    for (int round = 0; round < 400; round++) {
        std::string x;
        int pieces = 1 + static_cast<int>(rng() % 40);
        for (int k = 0; k < pieces; k++) {
            if (rng() % 2) {
                x.append(static_cast<size_t>(lengths[rng() % std::size(lengths)]), static_cast<char>(rng() % 3));
            } else {
                for (int n = static_cast<int>(rng() % 300); n > 0; n--) x.push_back(static_cast<char>(rng() % 4));
            }
        }
        int cut = 1;
        const std::string packed = net_pack(x, &cut);
        ASSERT_EQ(cut, 0);
        ASSERT_EQ(net_unpack(packed), x) << "round " << round;
        // Never larger than one code byte per 127 literals.
        EXPECT_LE(packed.size(), x.size() + (x.size() + 126) / 127);

        size_t p = 0, at = 0;
        while (p < packed.size()) {
            const uint8_t c = static_cast<uint8_t>(packed[p]);
            ASSERT_NE(c & 127, 0) << "empty block at " << p;
            if (c & 128) {
                ASSERT_GE(c & 127, 2) << "run of one at " << p;
                // A run is as long as it can be: the next byte differs or the block is full.
                size_t end = at + (c & 127);
                if ((c & 127) < 127 && end < x.size()) {
                    EXPECT_NE(x[end], x[at]) << "short run at " << p;
                }
                at = end;
                p += 2;
            } else {
                // No three equal bytes inside a literal block.
                for (size_t j = at; j + 2 < at + c; j++) {
                    ASSERT_FALSE(x[j] == x[j + 1] && x[j] == x[j + 2]) << "triple in literal at " << p;
                }
                at += c;
                p += 1 + c;
            }
        }
        EXPECT_EQ(at, x.size());
    }
}

// Random message types and values survive the host packet whole (type cut to 15).
TEST(NetBuild, RandomMessagesRoundTrip) {
    std::mt19937 rng(99);
    for (int round = 0; round < 300; round++) {
        NetMessage m;
        m.type.resize(1 + rng() % 20);
        for (auto& c : m.type) c = static_cast<char>('a' + rng() % 26);
        m.value.resize(rng() % 3000);
        for (auto& c : m.value) c = static_cast<char>(rng() % (round % 2 ? 2 : 256));
        int cut = 1;
        std::string raw = net_unpack(net_build(m, &cut));
        ASSERT_EQ(cut, 0);
        NetHostHeader h;
        ASSERT_EQ(net_header_read(raw, &h), 1);
        EXPECT_EQ(std::string(h.type), m.type.substr(0, 15));
        EXPECT_EQ(std::string(h.reserved, 48), std::string(48, '\0'));
        EXPECT_EQ(raw.substr(64), m.value);
    }
}

TEST(NetPack, ResultsAreCutAtTheBuffer) {
    int cut = 0;
    EXPECT_EQ(net_pack(no_repeats(70000), &cut).size(), 65536u);
    EXPECT_EQ(cut, 1);

    // 65023 literals pack to 65535 bytes: the run's code byte is the last
    // byte of the buffer and its value byte is lost.
    std::string packed = net_pack(no_repeats(65023) + "xxxxx", &cut);
    ASSERT_EQ(packed.size(), 65536u);
    EXPECT_EQ(static_cast<uint8_t>(packed.back()), 0x85);
    EXPECT_EQ(net_unpack(packed, &cut), no_repeats(65023));
    EXPECT_EQ(cut, 1);

    std::string runs;
    for (int i = 0; i < 600; i++) runs += bytes({0xff, 0});  // 76200 zeros
    EXPECT_EQ(net_unpack(runs, &cut), std::string(65536, '\0'));
    EXPECT_EQ(cut, 1);
}

TEST(NetUnpack, SkipsEmptyBlocksAndStopsAtTruncation) {
    int cut = 1;
    EXPECT_EQ(net_unpack(bytes({0x00, 0x02, 'h', 'i', 0x80, 'z', 0x00}), &cut), "hi");
    EXPECT_EQ(cut, 0);
    EXPECT_EQ(net_unpack(bytes({0x05, 'a', 'b'}), &cut), "ab");  // literal runs out
    EXPECT_EQ(cut, 1);
    EXPECT_EQ(net_unpack(bytes({0x01, 'q', 0x83}), &cut), "q");  // run without value
    EXPECT_EQ(cut, 1);
    EXPECT_EQ(net_unpack(bytes({0x01, 'q', 0x04}), &cut), "q");  // code at the end
    EXPECT_EQ(cut, 1);
}

TEST(NetUnpack, FuzzRandomBytes) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 3000; round++) {
        std::string junk(round % 100 == 0 ? 60000 + rng() % 10000 : rng() % 400, '\0');
        for (auto& c : junk) c = static_cast<char>(rng());
        std::string out = net_unpack(junk);
        ASSERT_LE(out.size(), 65536u);
        EXPECT_EQ(net_unpack(net_pack(out)), out) << "round " << round;
        NetClientHeader h;
        ASSERT_EQ(net_header_read(out, &h), out.size() >= 64 ? 1 : 0);
        if (out.size() >= 64) {
            EXPECT_LE(strlen(h.uid) + strlen(h.name) + strlen(h.token) + strlen(h.type), 60u);
        }
    }
}

TEST(NetHeader, FieldsHoldFifteenCharactersAndReadersForceTerminators) {
    char field[16];
    memset(field, 'Z', sizeof(field));
    net_header_field(field, "abc");
    EXPECT_EQ(std::string(field, 16), "abc" + std::string(13, '\0'));
    net_header_field(field, "0123456789abcdefXYZ");
    EXPECT_EQ(std::string(field, 16), std::string("0123456789abcde") + '\0');

    NetClientHeader h;
    ASSERT_EQ(net_header_read(std::string(70, 'A'), &h), 1);
    for (const char* f : {h.uid, h.name, h.token, h.type}) EXPECT_EQ(std::string(f), std::string(15, 'A'));
    NetHostHeader hh;
    EXPECT_EQ(net_header_read(std::string(63, 'A'), &h), 0);
    EXPECT_EQ(net_header_read(std::string(), &hh), 0);
}

TEST(NetBuild, HostPacketCarriesTypeAndRawValue) {
    NetMessage m;
    m.type = "exactly15chars!";
    m.value = std::string("\0\0\0a\0b", 6);
    std::string raw = net_unpack(net_build(m));
    EXPECT_EQ(raw, std::string(48, '\0') + "exactly15chars!" + '\0' + m.value);
    m.type = "a-type-longer-than-fifteen";
    EXPECT_EQ(std::string(net_unpack(net_build(m)).c_str() + 48), "a-type-longer-t");

    // A value that could not arrive whole is flagged.
    int cut = 1;
    m.value.assign(65536 - 64, '\0');
    net_build(m, &cut);
    EXPECT_EQ(cut, 0);
    m.value.push_back('\0');
    net_build(m, &cut);
    EXPECT_EQ(cut, 1);
}

// ---- against the packer and host pass the game shipped with ------------------------

namespace {

// The first packer, byte by byte: the fast one must write exactly this.
std::string reference_pack(const std::string& bytes, int* cut) {
    const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t n = bytes.size();
    std::string out;
    *cut = 0;
    auto put = [&](uint8_t b) {
        if (out.size() < 65536) out.push_back(static_cast<char>(b));
        else *cut = 1;
    };
    size_t i = 0;
    while (i < n) {
        if (i + 1 < n && in[i + 1] == in[i]) {
            size_t count = 1;
            while (count < 127 && i + count < n && in[i + count] == in[i]) count++;
            put(static_cast<uint8_t>(128 + count));
            put(in[i]);
            i += count;
        } else {
            size_t count = 1;
            while (count < 127 && i + count < n) {
                size_t j = i + count;
                if (j + 2 < n && in[j] == in[j + 1] && in[j + 1] == in[j + 2]) break;
                count++;
            }
            put(static_cast<uint8_t>(count));
            for (size_t k = 0; k < count; k++) put(in[i + k]);
            i += count;
        }
    }
    return out;
}

std::string reference_build(const std::string& type, const std::string& value) {
    std::string raw(64 + value.size(), '\0');
    memcpy(&raw[48], type.data(), type.size() < 15 ? type.size() : 15);
    memcpy(&raw[64], value.data(), value.size());
    int cut = 0;
    return reference_pack(raw, &cut);
}

std::string record(const Item& it) { return std::string(reinterpret_cast<const char*>(&it), sizeof(Item)); }

// The first full pass (sync_full 0 for all = the regular pass, else the
// whole item), as packets on the wire.
std::vector<std::string> reference_pass(Zentar& w, bool full) {
    std::vector<std::string> wire;
    if (full || w.active_changed) {
        std::string map(ZT_ITEMS, '\0');
        for (int i = 1; i < w.top && i < ZT_ITEMS; i++)
            if (w.items[i].in_use) map[static_cast<size_t>(i)] = static_cast<char>(w.items[i].has_sync);
        w.active_changed = 0;
        wire.push_back(reference_build("A", map));
    }
    for (int n = 1; n < w.top && n < ZT_ITEMS; n++) {
        Item& it = w.items[n];
        if (!it.in_use || !it.has_sync || (!full && !it.sync_full)) continue;
        memset(it.collide_box, 0, sizeof(it.collide_box));
        if (it.sync_full == 1) {
            it.sync_full = 0;
            memcpy(static_cast<void*>(&w.base[n]), &it, sizeof(Item));
            wire.push_back(reference_build("I", record(it)));
        } else {
            std::string delta = record(w.base[n]);
            const std::string now = record(it);
            for (size_t k = 0; k < delta.size(); k++) delta[k] ^= now[k];
            int32_t slot = n;
            memcpy(&delta[offsetof(Item, n)], &slot, sizeof(slot));
            wire.push_back(reference_build("D", delta));
        }
        it.sync_ships_sent = static_cast<int32_t>(it.fleet_ships);
    }
    return wire;
}

// Random bytes into a few fields or all of a record, as matches and mods change them.
void scribble(Item& it, std::mt19937& rng) {
    unsigned char* b = reinterpret_cast<unsigned char*>(&it);
    int kind = static_cast<int>(rng() % 4);
    if (kind == 0) return;
    size_t touches = kind == 1 ? 1 + rng() % 6 : kind == 2 ? 40 + rng() % 200 : sizeof(Item);
    for (size_t k = 0; k < touches; k++) {
        size_t at = kind == 3 ? k : rng() % sizeof(Item);
        if (at < 8) continue;  // in_use and n stay
        b[at] = static_cast<unsigned char>(rng() % 3 == 0 ? b[at] + 1 : rng());
    }
    it.fleet_ships = static_cast<float>(rng() % 1000);  // keeps sync_ships_sent a plain number
}

}  // namespace

// As the CPU chooses, with the mask built by AVX2 alone, and on the
// sixteen-byte packer alone.
class NetPackHostPass : public testing::TestWithParam<int> {
  protected:
    void SetUp() override { _net_pack_masks(GetParam()); }
    void TearDown() override { _net_pack_masks(1); }
};
INSTANTIATE_TEST_SUITE_P(Packers, NetPackHostPass, testing::Values(1, 2, 0));

// Random worlds through several regular and full passes: every packet on the
// wire, and the world left behind, are those of the packer and pass the game
// shipped with.
TEST_P(NetPackHostPass, EveryPacketIsTheOneTheFirstPackerWrote) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 6; round++) {
        auto fast = std::make_unique<Zentar>(), ref = std::make_unique<Zentar>();
        sys_init(*fast);
        int items = 50 + static_cast<int>(rng() % 3000);
        for (int k = 0; k < items; k++) {
            Item& it = *item_init(*fast);
            scribble(it, rng);
            it.has_sync = rng() % 5 != 0;
            it.sync_full = rng() % 3 == 0;
        }
        for (int n = 1; n < fast->top; n += 1 + static_cast<int>(rng() % 40)) item_deinit(*fast, &fast->items[n]);
        Net net;
        std::string wire;
        for (int pass = 0; pass < 8; pass++) {
            memcpy(static_cast<void*>(ref.get()), fast.get(), sizeof(Zentar));
            bool full = pass % 3 != 2;
            fast->active_changed = ref->active_changed = pass % 4 == 3;
            if (full) zentar_server_sync_items_all(&net, *fast);
            else zentar_server_sync_items_now(&net, *fast);
            std::vector<std::string> expected = reference_pass(*ref, full);
            ASSERT_EQ(net.outbox.size(), expected.size()) << "round " << round << " pass " << pass;
            for (size_t m = 0; m < expected.size(); m++) {
                net_build_into(net.outbox[m], wire);
                ASSERT_EQ(wire, expected[m]) << "round " << round << " pass " << pass << " packet " << m;
            }
            net.outbox_sent();
            ASSERT_EQ(memcmp(fast->items, ref->items, sizeof(fast->items)), 0);
            ASSERT_EQ(memcmp(fast->base, ref->base, sizeof(fast->base)), 0);
            for (int n = 1; n < fast->top; n++) {
                if (rng() % 2) scribble(fast->items[n], rng);
                if (rng() % 20 == 0) fast->items[n].sync_full = 1;
            }
        }
    }
    // Any bytes, long ones and ones cut at the buffer included.
    for (int round = 0; round < 300; round++) {
        size_t size = round % 50 == 0 ? 60000 + rng() % 80000 : rng() % 9000;
        std::string x(size, '\0');
        int alphabet = 1 + static_cast<int>(rng() % (round % 2 ? 3 : 256));
        for (size_t k = 0; k < size;) {
            size_t piece = 1 + rng() % (rng() % 4 == 0 ? 300 : 4);
            char c = static_cast<char>(rng() % alphabet);
            for (size_t j = 0; j < piece && k < size; j++, k++) x[k] = rng() % 8 ? c : static_cast<char>(rng());
        }
        int cut = -1, expected_cut = -1;
        ASSERT_EQ(net_pack(x, &cut), reference_pack(x, &expected_cut)) << "round " << round;
        EXPECT_EQ(cut, expected_cut);
    }
    // The mask packer's edges: inputs of a word and of its largest size, one
    // byte either side; a stretch (of 2, 3 or a block) ending at the end, a
    // pair right before three of another byte.
    for (size_t n : {0, 1, 2, 3, 63, 64, 65, 127, 128, 129, 8191, 8192, 8193}) {
        std::string tail = no_repeats(n);
        for (size_t run : {2, 3, 127}) {
            std::string x = tail;
            for (size_t k = run < n ? n - run : 0; k < n; k++) x[k] = 'z';
            if (n >= run + 2) x[n - run - 1] = x[n - run - 2] = 'y';
            for (const std::string& in : {x, std::string(n, 'q'), tail}) {
                int cut = -1, expected_cut = -1;
                ASSERT_EQ(net_pack(in, &cut), reference_pack(in, &expected_cut)) << n << " bytes, run " << run;
                EXPECT_EQ(cut, expected_cut);
            }
        }
    }
    // Delta-shaped values behind a header: zeros with a few short clusters,
    // zero stretches on the block limits, clusters at the header's edge.
    const size_t stretches[] = {0, 1, 2, 3, 126, 127, 128, 129, 254, 255, 256};
    std::string wire;
    for (int round = 0; round < 2000; round++) {
        std::string value(round % 4 ? 640 : rng() % 1500, '\0');
        for (int c = static_cast<int>(rng() % 7); c > 0 && !value.empty(); c--) {
            size_t at = rng() % 3 == 0 ? rng() % 8 : rng() % value.size();
            for (size_t k = rng() % 13; k > 0 && at < value.size(); k--, at++)
                value[at] = static_cast<char>(rng() % 4 == 0 ? value[at ? at - 1 : 0] : rng() % 256);
        }
        if (round % 2 && value.size() > 300) {  // nonzero bytes around a zero stretch of a block limit
            size_t from = rng() % 20, len = stretches[rng() % std::size(stretches)];
            value[from] = 'a';
            for (size_t k = from + 1; k <= from + len; k++) value[k] = '\0';
            value[from + len + 1] = static_cast<char>(rng() % 2 ? 'b' : 0);
        }
        std::string type(1 + rng() % 15, 'D');
        if (rng() % 2) type.back() = '\0';
        NetMessage m;
        m.type = type;
        m.value = value;
        net_build_into(m, wire);
        ASSERT_EQ(wire, reference_build(type, value)) << "round " << round;
        int cut = -1, expected_cut = -1;
        ASSERT_EQ(net_pack(value, &cut), reference_pack(value, &expected_cut)) << "round " << round;
        EXPECT_EQ(cut, expected_cut);
    }
}
