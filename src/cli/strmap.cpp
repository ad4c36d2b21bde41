#include "cli/strmap.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::int32_t max_buckets = 65536;

// CRC-16 table of polynomial 0x1021 in its left-shifting form. The map pairs
// it with a right-shifting update: not a standard CRC, but the hash is defined
// that way and its values are fixed.
constexpr std::array<std::uint16_t, 256> make_table()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned reg = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x8000) ? (reg << 1) ^ 0x1021 : reg << 1;
        table[i] = static_cast<std::uint16_t>(reg);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> crc_table = make_table();
static_assert(crc_table[1] == 0x1021 && crc_table[2] == 0x2042);
static_assert(crc_table[128] == 0x9188 && crc_table[255] == 0x1EF0);

strmap_alloc_fn alloc_hook = nullptr;

void* allocate(std::size_t size)
{
    return alloc_hook ? alloc_hook(size) : std::malloc(size);
}

unsigned char upper_fold(unsigned char b)
{
    return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - 0x20) : b;
}

char* copy_text(const char* text)
{
    std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(allocate(size));
    if (copy)
        std::memcpy(copy, text, size);
    return copy;
}

struct found_entry {
    strmap_entry* entry;
    std::uint16_t hash;
    strmap_entry** chain;
};

found_entry strmap_find(const strmap* map, const char* key)
{
    found_entry found{nullptr, strmap_hash(key, map->flags), nullptr};
    found.chain = &map->buckets[found.hash & (map->bucket_count - 1)];
    for (strmap_entry* e = *found.chain; e; e = e->next) {
        if (e->hash == found.hash && strmap_keys_equal(e->key, key, map->flags)) {
            found.entry = e;
            break;
        }
    }
    return found;
}

// Head of the first non-empty chain at or after index from; updates iter_bucket.
strmap_entry* next_chain_head(strmap* map, std::int32_t from)
{
    for (std::int32_t i = from; i < map->bucket_count; ++i) {
        if (map->buckets[i]) {
            map->iter_bucket = i + 1;
            return map->buckets[i];
        }
    }
    map->iter_bucket = map->bucket_count;
    return nullptr;
}

} // namespace

bool strmap_keys_equal(const char* a, const char* b, std::uint32_t flags)
{
    if (!(flags & STRMAP_NOCASE))
        return std::strcmp(a, b) == 0;
    for (;; ++a, ++b) {
        unsigned char x = upper_fold(static_cast<unsigned char>(*a));
        unsigned char y = upper_fold(static_cast<unsigned char>(*b));
        if (x != y)
            return false;
        if (x == 0)
            return true;
    }
}

void strmap_set_alloc_hook(strmap_alloc_fn fn)
{
    alloc_hook = fn;
}

std::uint16_t strmap_hash(const char* key, std::uint32_t flags)
{
    unsigned h = 0xFFFF;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) {
        unsigned char b = (flags & STRMAP_NOCASE) ? upper_fold(*p) : *p;
        h = ((h >> 8) ^ crc_table[(h ^ b) & 0xFF]) & 0xFFFF;
    }
    return static_cast<std::uint16_t>(h);
}

void strmap_update_limits(strmap* map)
{
    if (map->flags & STRMAP_FIXED)
        map->grow_at = 0;
    else
        map->grow_at = map->bucket_count < max_buckets ? 2 * map->bucket_count : 0;
}

strmap* strmap_create()
{
    strmap* map = static_cast<strmap*>(allocate(sizeof(strmap)));
    if (!map)
        return nullptr;
    map->buckets = static_cast<strmap_entry**>(allocate(sizeof(strmap_entry*)));
    if (!map->buckets) {
        std::free(map);
        return nullptr;
    }
    map->buckets[0] = nullptr;
    map->release_value = std::free;
    map->bucket_count = 1;
    map->iter_bucket = 0;
    map->iter_entry = nullptr;
    map->flags = STRMAP_NOCASE | STRMAP_FIXED;
    map->entry_count = 0;
    strmap_update_limits(map);
    return map;
}

int strmap_grow(strmap* map)
{
    if (map->iter_entry || map->bucket_count >= max_buckets)
        return -1;
    const std::int32_t n = map->bucket_count;
    // A fresh array rather than realloc: on failure the old one stays untouched.
    auto* grown = static_cast<strmap_entry**>(allocate(sizeof(strmap_entry*) * 2 * n));
    if (!grown)
        return -1;
    for (std::int32_t i = 0; i < 2 * n; ++i)
        grown[i] = nullptr;
    for (std::int32_t i = 0; i < n; ++i) {
        strmap_entry* e = map->buckets[i];
        while (e) {
            strmap_entry* next = e->next;
            strmap_entry** head = (e->hash & n) ? &grown[i + n] : &grown[i];
            e->next = *head;
            *head = e;
            e = next;
        }
    }
    std::free(map->buckets);
    map->buckets = grown;
    map->bucket_count = 2 * n;
    strmap_update_limits(map);
    return 0;
}

int strmap_set(strmap* map, const char* key, const char* value)
{
    found_entry found = strmap_find(map, key);
    char* key_copy = copy_text(key);
    char* value_copy = key_copy ? copy_text(value) : nullptr;
    if (!value_copy) {
        std::free(key_copy);
        return -1;
    }

    strmap_entry* e = found.entry;
    int result = 1;
    if (e) {
        if (e->owns_value)
            map->release_value(e->value);
        if (e->owns_key)
            std::free(e->key);
    } else {
        e = static_cast<strmap_entry*>(allocate(sizeof(strmap_entry)));
        if (!e) {
            std::free(key_copy);
            std::free(value_copy);
            return -1;
        }
        e->hash = found.hash;
        e->next = nullptr;
        if (map->bucket_count == 1) {
            strmap_entry** tail = found.chain;
            while (*tail)
                tail = &(*tail)->next;
            *tail = e;
        } else {
            e->next = *found.chain;
            *found.chain = e;
        }
        result = 0;
    }
    e->key = key_copy;
    e->value = value_copy;
    e->owns_key = 1;
    e->owns_value = 1;

    if (result == 0) {
        ++map->entry_count;
        if (map->grow_at != 0 && map->entry_count >= map->grow_at)
            (void)strmap_grow(map);  // a map that cannot grow still holds the entry
    }
    return result;
}

const char* strmap_get(const strmap* map, const char* key)
{
    strmap_entry* e = strmap_find(map, key).entry;
    return e ? static_cast<const char*>(e->value) : nullptr;
}

void strmap_first(strmap* map)
{
    map->iter_entry = next_chain_head(map, 0);
}

const strmap_entry* strmap_next(strmap* map)
{
    strmap_entry* current = map->iter_entry;
    if (current)
        map->iter_entry = current->next ? current->next : next_chain_head(map, map->iter_bucket);
    return current;
}

void strmap_destroy(strmap* map)
{
    if (!map)
        return;
    for (std::int32_t i = 0; i < map->bucket_count; ++i) {
        strmap_entry* e = map->buckets[i];
        while (e) {
            strmap_entry* next = e->next;
            if (e->owns_key)
                std::free(e->key);
            if (e->owns_value && e->value)
                map->release_value(e->value);
            std::free(e);
            --map->entry_count;
            e = next;
        }
    }
    std::free(map->buckets);
    std::free(map);
}
