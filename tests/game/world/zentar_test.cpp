// World reset and item slot allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "world/zentar.h"

namespace {

struct ZentarSlots : ::testing::Test {
    std::unique_ptr<Zentar> wp = std::make_unique<Zentar>();
    Zentar& w = *wp;
    void SetUp() override { sys_init(w); }

    void expect_invariants() {
        int used = 0, highest = 0;
        for (int i = 1; i < ZT_ITEMS; i++) {
            if (!w.items[i].in_use) continue;
            used++;
            highest = i;
            EXPECT_EQ(w.items[i].n, i);
        }
        EXPECT_EQ(w.live, used);
        EXPECT_EQ(w.top, highest + 1);
        for (int i = 1; i < w.free_hint && i < ZT_ITEMS; i++) EXPECT_TRUE(w.items[i].in_use) << i;
    }
};

TEST_F(ZentarSlots, ResetClearsEverythingButTheUidCounter) {
    std::memset(static_cast<void*>(&w), 0x5a, sizeof(Zentar));
    w.uid_counter = 777;
    time_t before = time(nullptr);
    sys_init(w);
    EXPECT_EQ(w.top, 1);
    EXPECT_EQ(w.free_hint, 1);
    EXPECT_EQ(w.live, 0);
    EXPECT_EQ(w.bkgr_zoom, 1.0f);
    EXPECT_EQ(w.bkgr_stars, 1);
    EXPECT_EQ(w.uid_counter, 777u);
    EXPECT_GE(w.seed_time, static_cast<int32_t>(before));
    EXPECT_EQ(w.parts_count + w.client_map_count + w.chat_first_done + w.lost_fleet, 0);
    EXPECT_EQ(w.items[4095].in_use + w.base[17].sync_id + w.client_map_temp[4095], 0);

    Item* it = item_init(w);
    EXPECT_EQ(it->n, 1);
    EXPECT_EQ(it->sync_id, 778);
}

TEST_F(ZentarSlots, LowestFreeSlotFirstAndTopFollowsTheHighest) {
    for (int i = 1; i <= 5; i++) EXPECT_EQ(item_init(w)->n, i);
    item_deinit(w, &w.items[3]);
    EXPECT_EQ(item_init(w)->n, 3);
    EXPECT_EQ(item_init(w)->n, 6);

    for (int n : {2, 3, 4, 5}) item_deinit(w, &w.items[n]);
    EXPECT_EQ(w.top, 7);
    item_deinit(w, &w.items[6]);
    EXPECT_EQ(w.top, 2);  // past every free slot below
    item_deinit(w, &w.items[1]);
    EXPECT_EQ(w.top, 1);
    EXPECT_EQ(w.items[6].n, 0);
    expect_invariants();
}

TEST_F(ZentarSlots, FullTableGivesAScratchRecordOutsideTheTable) {
    for (int i = 1; i < ZT_ITEMS; i++) ASSERT_EQ(item_init(w)->n, i);
    uint32_t uid = w.uid_counter;
    Item slot0 = w.items[0];

    Item* s = item_init(w);
    EXPECT_EQ(s->n, 0);
    EXPECT_EQ(w.live, 4095);
    EXPECT_EQ(w.uid_counter, uid);
    EXPECT_TRUE(s < w.items || s >= w.items + ZT_ITEMS);
    s->in_use = 1;
    s->ships_value = 99;
    item_deinit(w, s);
    EXPECT_EQ(s->in_use, 0);
    EXPECT_EQ(w.live, 4095);
    EXPECT_EQ(std::memcmp(&slot0, &w.items[0], sizeof(Item)), 0);
    EXPECT_EQ(item_init(w)->ships_value, 0.0f);  // zeroed again for the next caller

    item_deinit(w, &w.items[4095]);
    EXPECT_EQ(w.top, 4095);
    EXPECT_EQ(item_init(w)->n, 4095);
}

TEST_F(ZentarSlots, ReusedSlotIsZeroApartFromAllocationFields) {
    item_init(w);
    Item* b = item_init(w);
    std::memset(static_cast<void*>(b), 0xff, sizeof(Item));
    b->in_use = 1;
    item_deinit(w, b);
    EXPECT_EQ(static_cast<uint8_t>(b->title_value[0]), 0xff);  // kept until reuse

    ASSERT_EQ(item_init(w), b);
    Item expect{};
    expect.in_use = 1;
    expect.n = 2;
    expect.sync_id = static_cast<int32_t>(w.uid_counter);
    expect.has_sync = 1;
    expect.sync_full = 1;
    EXPECT_EQ(std::memcmp(&expect, b, sizeof(Item)), 0);
}

TEST(ZentarConvert, FloatToIntSaturates) {
    EXPECT_EQ(zt_sat_int(NAN), 0);
    EXPECT_EQ(zt_sat_int(-NAN), 0);
    EXPECT_EQ(zt_sat_int(INFINITY), INT32_MAX);
    EXPECT_EQ(zt_sat_int(-INFINITY), INT32_MIN);
    EXPECT_EQ(zt_sat_int(1e30f), INT32_MAX);
    EXPECT_EQ(zt_sat_int(-1e30f), INT32_MIN);
    EXPECT_EQ(zt_sat_int(2147483648.0f), INT32_MAX);  // the float nearest INT32_MAX lies above it
    EXPECT_EQ(zt_sat_int(2147483520.0f), 2147483520);
    EXPECT_EQ(zt_sat_int(2147483646.9), 2147483646);
    EXPECT_EQ(zt_sat_int(-2147483648.0), INT32_MIN);
    EXPECT_EQ(zt_sat_int(-2147483648.9), INT32_MIN);
    EXPECT_EQ(zt_sat_int(2.7f), 2);  // toward zero, like a cast
    EXPECT_EQ(zt_sat_int(-2.7f), -2);
    EXPECT_EQ(zt_sat_int(-0.0f), 0);
}

TEST_F(ZentarSlots, ReleaseAndReadCheckTheirSlot) {
    for (int i = 0; i < 4; i++) item_init(w);
    item_deinit(w, &w.items[2]);
    item_deinit(w, &w.items[2]);  // twice must not count twice
    item_deinit(w, &w.base[3]);   // a base copy is no slot
    item_deinit(w, &w.items[0]);
    item_deinit(w, nullptr);
    EXPECT_EQ(w.live, 3);
    EXPECT_EQ(w.items[3].in_use, 1);
    expect_invariants();

    w.items[1].ships_value = 3;
    EXPECT_EQ(_item_read(w, 1).ships_value, 3.0f);
    for (int bad : {0, -1, ZT_ITEMS, 1 << 30}) EXPECT_EQ(_item_read(w, bad).in_use, 0);
}

TEST_F(ZentarSlots, RandomChurnKeepsInvariantsAndFreshUids) {
    srand(7);
    std::vector<int> used;
    int32_t last_uid = 0;
    for (int step = 0; step < 20000; step++) {
        if (step == 10000) {
            sys_init(w);
            used.clear();
        }
        if (used.empty() || rand() % 3) {
            Item* it = item_init(w);
            if (!it->n) continue;
            EXPECT_GT(it->sync_id, last_uid);
            last_uid = it->sync_id;
            used.push_back(it->n);
        } else {
            size_t k = static_cast<size_t>(rand()) % used.size();
            item_deinit(w, &w.items[used[k]]);
            used.erase(used.begin() + static_cast<long>(k));
        }
        if (step % 2500 == 0) expect_invariants();
    }
    expect_invariants();
}

}  // namespace
