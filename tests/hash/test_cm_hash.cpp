// The fixed 512-entry key table: hash functions, limits, and removal that
// leaves every other key reachable (checked against std::map).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "cm_hash.h"

namespace {

TEST(HashFunctions, ReferenceValues)
{
    // Jenkins one-at-a-time with a signed accumulator (arithmetic right
    // shifts), over the lower-cased bytes; computed independently.
    struct {
        const char *key;
        unsigned index;
    } const cases[] = {
        {"a", 66},
        {"sip", 71},
        {"The quick brown fox jumps over the lazy dog", 120}, // 462 with logical shifts
        {"GSM", 148},
        {"gsm", 148},
        {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(joaat_hash(hash_key_str(c.key), 512), c.index) << c.key;
    EXPECT_EQ(modolo_hash(hash_key_int(513), 512), 1u);
    EXPECT_EQ(modolo_hash(hash_key_int(-1), 512), 511u); // taken as 0xffffffff
    EXPECT_EQ(eq_str(hash_key_str("Port"), hash_key_str("pORT")), 1);
    EXPECT_EQ(eq_str(hash_key_str("Port"), hash_key_str("Ports")), 0);
    EXPECT_EQ(eq_int(hash_key_int(3), hash_key_int(3)), 1);
}

TEST(CmHash, HoldsExactly512KeysAndRejectsDuplicates)
{
    cm_hash_t h;
    ASSERT_EQ(cm_hash_init(&h, CM_HASH_SIZE, modolo_hash, eq_int), 0);
    // Every key in one chain: multiples of 512.
    for (int i = 0; i < 512; i++)
        ASSERT_EQ(cm_hash_insert(&h, hash_key_int(i * 512), i), 0) << i;
    EXPECT_EQ(h._length, 512);
    EXPECT_EQ(cm_hash_insert(&h, hash_key_int(7), 0), -1); // full
    EXPECT_EQ(cm_hash_insert(&h, hash_key_int(0), 0), -1); // duplicate
    ASSERT_EQ(cm_hash_remove(&h, hash_key_int(100 * 512)), 0);
    EXPECT_EQ(cm_hash_remove(&h, hash_key_int(100 * 512)), -1);
    EXPECT_EQ(cm_hash_insert(&h, hash_key_int(7), 70), 0); // room again
    intptr_t v = 0;
    for (int i = 0; i < 512; i++) {
        int rc = cm_hash_lookup(&h, hash_key_int(i * 512), &v);
        if (i == 100) {
            EXPECT_EQ(rc, -1);
        } else {
            ASSERT_EQ(rc, 0) << i;
            EXPECT_EQ(v, i);
        }
    }
    cm_hash_free(&h);
}

TEST(CmHash, TextKeysIgnoreCase)
{
    cm_hash_t h;
    ASSERT_EQ(cm_hash_init(&h, CM_HASH_SIZE, joaat_hash, eq_str), 0);
    ASSERT_EQ(cm_hash_insert(&h, hash_key_str("Provider"), 1), 0);
    EXPECT_EQ(cm_hash_insert(&h, hash_key_str("PROVIDER"), 2), -1);
    intptr_t v = 0;
    EXPECT_EQ(cm_hash_lookup(&h, hash_key_str("provider"), &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(cm_hash_remove(&h, hash_key_str("pRoViDeR")), 0);
    EXPECT_EQ(h._length, 0);
    cm_hash_free(&h);
}

TEST(CmHash, RandomOperationsAgreeWithAMap)
{
    // Keys from a small set that collides heavily (k and k + 512 share a
    // chain); inserts and removals in random order.
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> pick(0, 2047), op(0, 2);
    cm_hash_t h;
    ASSERT_EQ(cm_hash_init(&h, CM_HASH_SIZE, modolo_hash, eq_int), 0);
    std::map<int, intptr_t> ref;
    for (int step = 0; step < 50000; step++) {
        int key = pick(rng) % 8 * 512 + pick(rng) % 300;
        int o = op(rng);
        if (o == 0) {
            int rc = cm_hash_insert(&h, hash_key_int(key), step);
            bool ok = !ref.count(key) && ref.size() < 512;
            ASSERT_EQ(rc, ok ? 0 : -1) << "step " << step;
            if (ok)
                ref[key] = step;
        } else if (o == 1) {
            ASSERT_EQ(cm_hash_remove(&h, hash_key_int(key)), ref.erase(key) ? 0 : -1);
        } else {
            intptr_t v = -1;
            int rc = cm_hash_lookup(&h, hash_key_int(key), &v);
            auto it = ref.find(key);
            ASSERT_EQ(rc, it != ref.end() ? 0 : -1) << "step " << step;
            if (it != ref.end()) {
                ASSERT_EQ(v, it->second);
            }
        }
        ASSERT_EQ(h._length, (int)ref.size());
    }
    for (const auto &[k, val] : ref) {
        intptr_t v = -1;
        ASSERT_EQ(cm_hash_lookup(&h, hash_key_int(k), &v), 0);
        EXPECT_EQ(v, val);
    }
    cm_hash_free(&h);
}

} // namespace
