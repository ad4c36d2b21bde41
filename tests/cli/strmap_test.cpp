#include "cli/strmap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// After fail_after(n), n allocations succeed and the next ones fail; -1 never fails.
int allocations_left = -1;
void* failing_alloc(std::size_t size)
{
    if (allocations_left == 0)
        return nullptr;
    if (allocations_left > 0)
        --allocations_left;
    return std::malloc(size);
}

struct FailingAllocator {
    FailingAllocator() { strmap_set_alloc_hook(failing_alloc); }
    ~FailingAllocator() { strmap_set_alloc_hook(nullptr); allocations_left = -1; }
    void fail_after(int successes) { allocations_left = successes; }
};

std::vector<std::string> keys_in_order(strmap* map)
{
    std::vector<std::string> keys;
    strmap_first(map);
    while (const strmap_entry* e = strmap_next(map))
        keys.emplace_back(e->key);
    return keys;
}

// A growing map: no STRMAP_FIXED.
strmap* growing_map(std::uint32_t flags)
{
    strmap* map = strmap_create();
    map->flags = flags;
    strmap_update_limits(map);
    return map;
}

std::string key_for(int i)
{
    std::string key = "key";
    key += std::to_string(i);
    return key;
}

} // namespace

TEST(StrmapHash, ReferenceValues)
{
    EXPECT_EQ(strmap_hash("", STRMAP_NOCASE), 0xFFFF);
    EXPECT_EQ(strmap_hash("", 0), 0xFFFF);
    EXPECT_EQ(strmap_hash("abc", STRMAP_NOCASE), 0x8DFD);
    EXPECT_EQ(strmap_hash("ABC", STRMAP_NOCASE), 0x8DFD);
    EXPECT_EQ(strmap_hash("abc", 0), 0x3C5F);
    // Only ASCII letters fold: bytes above 0x7F and punctuation hash as they are.
    EXPECT_NE(strmap_hash("\xe9", STRMAP_NOCASE), strmap_hash("\xc9", STRMAP_NOCASE));
    EXPECT_NE(strmap_hash("[", STRMAP_NOCASE), strmap_hash("{", STRMAP_NOCASE));
}

TEST(Strmap, CreateSetsUpAFixedCaseInsensitiveMap)
{
    strmap* map = strmap_create();
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->flags, STRMAP_NOCASE | STRMAP_FIXED);
    EXPECT_EQ(map->bucket_count, 1);
    EXPECT_EQ(map->entry_count, 0);
    EXPECT_EQ(map->grow_at, 0);
    EXPECT_EQ(map->iter_entry, nullptr);
    strmap_destroy(map);
    strmap_destroy(nullptr);
}

TEST(Strmap, ReplaceKeepsPositionAndTakesTheNewKeyText)
{
    strmap* map = strmap_create();
    EXPECT_EQ(strmap_set(map, "Mode", "client"), 0);
    EXPECT_EQ(strmap_set(map, "rate", "4"), 0);
    EXPECT_EQ(strmap_set(map, "MODE", "server"), 1);
    EXPECT_EQ(map->entry_count, 2);
    EXPECT_STREQ(strmap_get(map, "mode"), "server");
    EXPECT_EQ(keys_in_order(map), (std::vector<std::string>{"MODE", "rate"}));
    strmap_destroy(map);
}

TEST(Strmap, FixedMapIteratesInInsertionOrderHoweverLarge)
{
    strmap* map = strmap_create();
    std::vector<std::string> expected;
    for (int i = 0; i < 300; ++i) {
        expected.push_back(std::to_string((i * 7919) % 1000).insert(0, 1, 'k'));
        ASSERT_EQ(strmap_set(map, expected.back().c_str(), "v"), 0);
    }
    EXPECT_EQ(map->bucket_count, 1);
    EXPECT_EQ(keys_in_order(map), expected);
    EXPECT_EQ(map->iter_entry, nullptr);
    strmap_destroy(map);
}

TEST(Strmap, EmptyKeyEmptyValueAndEmptyIteration)
{
    strmap* map = strmap_create();
    strmap_first(map);
    EXPECT_EQ(map->iter_entry, nullptr);
    EXPECT_EQ(strmap_next(map), nullptr);

    const char value[] = "";
    EXPECT_EQ(strmap_set(map, "", value), 0);
    const char* stored = strmap_get(map, "");
    ASSERT_NE(stored, nullptr);
    EXPECT_STREQ(stored, "");
    EXPECT_NE(stored, value);  // a private copy
    EXPECT_EQ(strmap_get(map, "x"), nullptr);
    strmap_destroy(map);
}

TEST(Strmap, CaseSensitiveMapKeepsCasesApart)
{
    strmap* map = growing_map(0);
    EXPECT_EQ(strmap_set(map, "abc", "1"), 0);
    EXPECT_EQ(strmap_set(map, "ABC", "2"), 0);
    EXPECT_STREQ(strmap_get(map, "abc"), "1");
    EXPECT_STREQ(strmap_get(map, "ABC"), "2");
    EXPECT_EQ(strmap_get(map, "Abc"), nullptr);
    strmap_destroy(map);
}

TEST(Strmap, GrowthDoublesAtTheLimitAndKeepsEveryEntryReachable)
{
    for (std::uint32_t flags : {0u, unsigned{STRMAP_NOCASE}}) {
        strmap* map = growing_map(flags);
        const int expected_buckets[] = {1, 2, 2, 4, 4, 4, 4, 8};
        for (int i = 0; i < 5000; ++i) {
            const std::string key = key_for(i);
            ASSERT_EQ(strmap_set(map, key.c_str(), key.c_str()), 0);
            if (i < 8) {
                EXPECT_EQ(map->bucket_count, expected_buckets[i]) << "after insertion " << i + 1;
            }
            if (i % 997 == 0 || i == 4999) {
                for (int j = 0; j <= i; ++j) {
                    const std::string probe = key_for(j);
                    const char* value = strmap_get(map, probe.c_str());
                    ASSERT_NE(value, nullptr) << probe;
                    ASSERT_EQ(probe, value);
                }
            }
        }
        EXPECT_EQ(map->bucket_count, 4096);
        EXPECT_EQ(keys_in_order(map).size(), 5000u);
        // Every entry sits in the chain its hash names.
        for (int b = 0; b < map->bucket_count; ++b)
            for (strmap_entry* e = map->buckets[b]; e; e = e->next)
                ASSERT_EQ(e->hash & (map->bucket_count - 1), b);
        strmap_destroy(map);
    }
}

TEST(Strmap, GrowthSplitReversesEachChainsOrder)
{
    strmap* map = growing_map(0);
    map->grow_at = 0;  // fill one chain by hand, then split it once
    const char* keys[] = {"a", "b", "c", "d", "e"};
    for (const char* key : keys)
        strmap_set(map, key, "v");
    ASSERT_EQ(keys_in_order(map), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    ASSERT_EQ(strmap_grow(map), 0);
    std::vector<std::string> kept, moved;
    for (strmap_entry* e = map->buckets[0]; e; e = e->next) kept.emplace_back(e->key);
    for (strmap_entry* e = map->buckets[1]; e; e = e->next) moved.emplace_back(e->key);
    std::vector<std::string> expect_kept, expect_moved;
    for (int i = 4; i >= 0; --i)
        ((strmap_hash(keys[i], 0) & 1) ? expect_moved : expect_kept).emplace_back(keys[i]);
    EXPECT_EQ(kept, expect_kept);
    EXPECT_EQ(moved, expect_moved);
    EXPECT_EQ(map->grow_at, 4);
    strmap_destroy(map);
}

TEST(Strmap, GrowthIsRefusedDuringIterationAndAtTheCeiling)
{
    strmap* map = growing_map(0);
    strmap_set(map, "one", "1");
    strmap_first(map);
    ASSERT_NE(map->iter_entry, nullptr);
    EXPECT_EQ(strmap_grow(map), -1);
    EXPECT_EQ(strmap_set(map, "two", "2"), 0);  // reaches grow_at: the entry stays in, ungrown
    EXPECT_EQ(map->bucket_count, 1);
    while (strmap_next(map)) {}
    EXPECT_EQ(strmap_grow(map), 0);
    EXPECT_EQ(map->bucket_count, 2);

    const std::int32_t real_count = map->bucket_count;
    map->bucket_count = 65536;  // pretend: a grow must refuse before touching the buckets
    EXPECT_EQ(strmap_grow(map), -1);
    strmap_update_limits(map);
    EXPECT_EQ(map->grow_at, 0);
    map->bucket_count = real_count;
    strmap_destroy(map);
}

TEST(Strmap, AllocationFailureLeavesTheMapExactlyAsItWas)
{
    FailingAllocator allocator;
    for (int successes = 0; successes < 2; ++successes) {
        allocator.fail_after(successes);
        EXPECT_EQ(strmap_create(), nullptr) << "failing allocation " << successes;
    }

    allocator.fail_after(-1);
    strmap* map = strmap_create();
    strmap_set(map, "mode", "client");
    strmap_set(map, "rate", "4");
    // A new key needs three allocations, a replacement two; fail each in turn.
    struct Case { const char* key; int successes; };
    for (Case c : {Case{"port", 0}, Case{"port", 1}, Case{"port", 2}, Case{"MODE", 0}, Case{"MODE", 1}}) {
        allocator.fail_after(c.successes);
        EXPECT_EQ(strmap_set(map, c.key, "5050"), -1) << c.key << " " << c.successes;
        allocator.fail_after(-1);
        EXPECT_EQ(map->entry_count, 2);
        EXPECT_EQ(keys_in_order(map), (std::vector<std::string>{"mode", "rate"}));
        EXPECT_STREQ(strmap_get(map, "mode"), "client");
        EXPECT_EQ(strmap_get(map, "port"), nullptr);
    }
    strmap_destroy(map);

    // A growing map whose doubling fails keeps the new entry and its old buckets.
    map = growing_map(0);
    strmap_set(map, "a", "1");
    strmap_set(map, "b", "2");
    strmap_set(map, "c", "3");
    ASSERT_EQ(map->bucket_count, 2);
    allocator.fail_after(3);  // key, value and entry succeed; the doubled array fails
    EXPECT_EQ(strmap_set(map, "d", "4"), 0);
    EXPECT_EQ(map->bucket_count, 2);
    allocator.fail_after(-1);
    for (const char* key : {"a", "b", "c", "d"})
        EXPECT_NE(strmap_get(map, key), nullptr) << key;
    strmap_destroy(map);
}

namespace {
int released = 0;
void counting_release(void* value)
{
    ++released;
    std::free(value);
}
} // namespace

TEST(Strmap, OwnedValuesGoThroughReleaseValue)
{
    strmap* map = strmap_create();
    map->release_value = counting_release;
    released = 0;
    strmap_set(map, "a", "1");
    strmap_set(map, "b", "2");
    strmap_set(map, "A", "3");
    EXPECT_EQ(released, 1);
    strmap_destroy(map);
    EXPECT_EQ(released, 3);
}
