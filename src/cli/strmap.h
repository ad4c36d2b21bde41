// A small chained hash map from text keys to text values.
//
// The map copies every key and value it stores and frees them itself.
// With STRMAP_FIXED it never grows, so it stays one chain that keeps the
// order of first insertion; the command line is walked in that order.
#pragma once

#include <cstddef>
#include <cstdint>

enum : std::uint32_t {
    STRMAP_NOCASE = 1,  // keys compare and hash ignoring ASCII letter case
    STRMAP_FIXED = 2,   // one bucket for ever: insertion order is kept
};

struct strmap_entry {
    strmap_entry* next;
    char* key;
    void* value;
    std::uint16_t hash;
    unsigned char owns_key;
    unsigned char owns_value;
};

struct strmap {
    void (*release_value)(void* value);
    strmap_entry** buckets;
    std::int32_t bucket_count;
    std::int32_t iter_bucket;
    strmap_entry* iter_entry;
    std::uint32_t flags;
    std::int32_t entry_count;
    std::int32_t grow_at;
};

// An empty map with flags STRMAP_NOCASE | STRMAP_FIXED, or null when memory is short.
strmap* strmap_create();

// Stores private copies of key and value. Returns 0 when a new entry was added,
// 1 when an existing entry took the new key text and value, -1 when memory ran
// out (the map is then exactly as it was).
int strmap_set(strmap* map, const char* key, const char* value);

// The value stored under key, or null. Owned by the map.
const char* strmap_get(const strmap* map, const char* key);

// Starts an iteration; strmap_next then returns each entry once and null at the
// end. The map does not grow while an iteration is under way.
void strmap_first(strmap* map);
const strmap_entry* strmap_next(strmap* map);

// Frees every entry, the buckets and the map; null is accepted.
void strmap_destroy(strmap* map);

// The map's key comparison: byte for byte, or ignoring ASCII letter case under
// STRMAP_NOCASE (other bytes compare as they are).
bool strmap_keys_equal(const char* a, const char* b, std::uint32_t flags);

// Internals, open to tests.
std::uint16_t strmap_hash(const char* key, std::uint32_t flags);
int strmap_grow(strmap* map);
void strmap_update_limits(strmap* map);

// Routes the map's allocations through fn (which must return memory that free()
// releases), so tests can make them fail on demand; null restores malloc.
using strmap_alloc_fn = void* (*)(std::size_t size);
void strmap_set_alloc_hook(strmap_alloc_fn fn);
