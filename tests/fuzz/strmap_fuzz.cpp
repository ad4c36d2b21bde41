// The parameter map driven by a byte-coded program of operations and checked
// against a plain model: a vector of key/value pairs in order of first
// insertion, compared the way the map compares keys.
//
// The first byte picks the map's flags: the fixed case-insensitive map that
// strmap_create gives, a fixed case-sensitive one, or a growing map of either
// kind. Then each operation byte is followed by its own operand bytes (see
// run_operation); a missing byte reads as 0.
//
// Checked after every operation: the entry count and the growth limit. After a
// full check (an operation, and at the end): every entry in the chain its hash
// names, every key reachable with its value, an iteration that visits every
// entry exactly once (in insertion order while the map has one bucket). An
// operation whose allocation was made to fail must leave the map exactly as
// it was.

#include "cli/strmap.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- input --------------------------------------------------------------

struct program {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;

    bool done() const { return pos >= size; }
    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }

    // A length byte, then up to max_length bytes; NUL bytes are left out,
    // since the map's keys and values end at the first one.
    std::string text(std::size_t max_length)
    {
        const std::size_t length = byte() % (max_length + 1);
        std::string s;
        for (std::size_t i = 0; i < length && !done(); ++i) {
            const std::uint8_t b = byte();
            if (b != 0)
                s += static_cast<char>(b);
        }
        return s;
    }
};

constexpr std::size_t max_key_length = 12;
constexpr std::size_t max_value_length = 8;

// ---- allocation failure -------------------------------------------------

// While armed, allocations_left allocations succeed and the ones after fail.
int allocations_left = -1;

void* failing_alloc(std::size_t size)
{
    if (allocations_left == 0)
        return nullptr;
    if (allocations_left > 0)
        --allocations_left;
    return std::malloc(size);
}

void arm(int successes)
{
    allocations_left = successes;
    strmap_set_alloc_hook(failing_alloc);
}

void disarm()
{
    strmap_set_alloc_hook(nullptr);
    allocations_left = -1;
}

// ---- the model ----------------------------------------------------------

unsigned char fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 0x20) : c;
}

struct model_entry {
    std::string key;
    std::string value;
};

struct model {
    std::uint32_t flags = 0;
    std::vector<model_entry> entries;  // in order of first insertion

    bool same_key(const std::string& a, const std::string& b) const
    {
        if (!(flags & STRMAP_NOCASE))
            return a == b;
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
                return false;
        }
        return true;
    }

    const model_entry* find(const std::string& key) const
    {
        for (const model_entry& e : entries) {
            if (same_key(e.key, key))
                return &e;
        }
        return nullptr;
    }

    // 0 for a new entry, 1 for a replacement, as strmap_set answers.
    int set(const std::string& key, const std::string& value)
    {
        for (model_entry& e : entries) {
            if (same_key(e.key, key)) {
                e = model_entry{key, value};
                return 1;
            }
        }
        entries.push_back(model_entry{key, value});
        return 0;
    }

    // The entry whose key text is exactly this one (unique: no two model keys
    // compare equal, so no two have the same text either).
    const model_entry* find_exact(const char* key) const
    {
        for (const model_entry& e : entries) {
            if (e.key == key)
                return &e;
        }
        return nullptr;
    }
};

// ---- map and model together ----------------------------------------------

const std::uint32_t kinds[] = {
    STRMAP_NOCASE | STRMAP_FIXED,  // as strmap_create makes it: the parameter map
    STRMAP_FIXED,
    0,
    STRMAP_NOCASE,
};

struct subject {
    strmap* map = nullptr;
    model expected;
};

strmap* create(std::uint32_t flags)
{
    strmap* map = strmap_create();
    if (map && flags != map->flags) {
        map->flags = flags;
        strmap_update_limits(map);
    }
    return map;
}

// Everything a failed operation must leave as it was: the map's fields and
// every entry, down to the addresses of its key and value.
struct entry_image {
    const strmap_entry* entry;
    const strmap_entry* next;
    const char* key;
    const void* value;
    std::uint16_t hash;
    unsigned char owns_key;
    unsigned char owns_value;
    bool operator==(const entry_image&) const = default;
};

struct map_image {
    void (*release_value)(void*);
    strmap_entry** buckets;
    std::int32_t bucket_count;
    std::int32_t iter_bucket;
    strmap_entry* iter_entry;
    std::uint32_t flags;
    std::int32_t entry_count;
    std::int32_t grow_at;
    std::vector<entry_image> entries;
    bool operator==(const map_image&) const = default;
};

map_image image_of(const strmap* map)
{
    map_image image{map->release_value, map->buckets,     map->bucket_count, map->iter_bucket,
                    map->iter_entry,    map->flags,       map->entry_count,  map->grow_at, {}};
    for (std::int32_t b = 0; b < map->bucket_count; ++b) {
        for (const strmap_entry* e = map->buckets[b]; e; e = e->next) {
            FUZZ_CHECK(image.entries.size() <= static_cast<std::size_t>(map->entry_count));
            image.entries.push_back(
                entry_image{e, e->next, e->key, e->value, e->hash, e->owns_key, e->owns_value});
        }
    }
    return image;
}

std::int32_t expected_grow_at(const strmap* map)
{
    if (map->flags & STRMAP_FIXED)
        return 0;
    return map->bucket_count < 65536 ? 2 * map->bucket_count : 0;
}

// Cheap enough for every operation.
void light_check(const subject& s)
{
    const strmap* map = s.map;
    FUZZ_CHECK(map->flags == s.expected.flags);
    FUZZ_CHECK(map->entry_count == static_cast<std::int32_t>(s.expected.entries.size()));
    FUZZ_CHECK(map->bucket_count >= 1 && map->bucket_count <= 65536);
    FUZZ_CHECK((map->bucket_count & (map->bucket_count - 1)) == 0);
    FUZZ_CHECK(map->grow_at == expected_grow_at(map));
    if (map->flags & STRMAP_FIXED)
        FUZZ_CHECK(map->bucket_count == 1);
}

// An entry the map handed out must be one of the model's, with its value.
void check_entry(const subject& s, const strmap_entry* e)
{
    const model_entry* m = s.expected.find_exact(e->key);
    FUZZ_CHECK(m != nullptr);
    FUZZ_CHECK(m->value == static_cast<const char*>(e->value));
}

void full_check(subject& s)
{
    light_check(s);
    strmap* map = s.map;
    const std::size_t count = s.expected.entries.size();

    // The chains: each entry where its hash puts it, found once in all.
    std::set<const strmap_entry*> in_chains;
    for (std::int32_t b = 0; b < map->bucket_count; ++b) {
        for (const strmap_entry* e = map->buckets[b]; e; e = e->next) {
            FUZZ_CHECK(in_chains.size() < count);  // more entries than the model, or a cycle
            FUZZ_CHECK(in_chains.insert(e).second);
            FUZZ_CHECK(e->hash == strmap_hash(e->key, map->flags));
            FUZZ_CHECK((e->hash & (map->bucket_count - 1)) == static_cast<unsigned>(b));
            FUZZ_CHECK(e->owns_key == 1 && e->owns_value == 1);
            check_entry(s, e);
        }
    }
    FUZZ_CHECK(in_chains.size() == count);

    // Every key reaches its value.
    for (const model_entry& m : s.expected.entries) {
        const char* value = strmap_get(map, m.key.c_str());
        FUZZ_CHECK(value != nullptr);
        FUZZ_CHECK(m.value == value);
    }

    // A whole iteration: each entry once, in insertion order for one bucket.
    std::vector<const strmap_entry*> visited;
    strmap_first(map);
    while (const strmap_entry* e = strmap_next(map)) {
        FUZZ_CHECK(visited.size() < count);
        visited.push_back(e);
    }
    FUZZ_CHECK(map->iter_entry == nullptr);
    FUZZ_CHECK(strmap_next(map) == nullptr);
    FUZZ_CHECK(std::set<const strmap_entry*>(visited.begin(), visited.end()) == in_chains);
    if (map->bucket_count == 1) {
        for (std::size_t i = 0; i < count; ++i)
            FUZZ_CHECK(s.expected.entries[i].key == visited[i]->key);
    }
}

// A key for an operation: new bytes, or (with an existing entry to start from)
// that entry's key with the case of some of its letters turned round.
std::string pick_key(program& p, const subject& s, bool variant)
{
    if (!variant || s.expected.entries.empty())
        return p.text(max_key_length);
    std::string key = s.expected.entries[p.byte() % s.expected.entries.size()].key;
    const std::uint8_t mask = p.byte();
    for (std::size_t i = 0; i < key.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(key[i]);
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (letter && (mask >> (i % 8) & 1))
            key[i] = static_cast<char>(c ^ 0x20);
    }
    return key;
}

// strmap_set, with an allocation failure armed when successes >= 0.
void do_set(subject& s, const std::string& key, const std::string& value, int successes)
{
    strmap* map = s.map;
    // The whole image only when a failure may need it: it walks every bucket.
    const map_image before = successes >= 0 ? image_of(map) : map_image{};
    const std::int32_t buckets_before = map->bucket_count;
    const std::int32_t grow_at_before = map->grow_at;
    const bool iterating = map->iter_entry != nullptr;

    if (successes >= 0)
        arm(successes);
    const int result = strmap_set(map, key.c_str(), value.c_str());
    disarm();

    if (result < 0) {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(successes >= 0);  // only allocation fails
        FUZZ_CHECK(image_of(map) == before);
        return;
    }
    const int expected_result = s.expected.set(key, value);
    FUZZ_CHECK(result == expected_result);
    const char* stored = strmap_get(map, key.c_str());
    FUZZ_CHECK(stored != nullptr && value == stored);

    // Growth: at the limit, never during an iteration; a failed doubling keeps
    // the old buckets.
    const bool due = result == 0 && grow_at_before != 0 && map->entry_count >= grow_at_before;
    if (due && !iterating) {
        if (successes < 0)
            FUZZ_CHECK(map->bucket_count == 2 * buckets_before);
        else
            FUZZ_CHECK(map->bucket_count == 2 * buckets_before || map->bucket_count == buckets_before);
    } else {
        FUZZ_CHECK(map->bucket_count == buckets_before);
    }
}

void do_get(const subject& s, const std::string& key)
{
    const char* value = strmap_get(s.map, key.c_str());
    const model_entry* m = s.expected.find(key);
    if (!m) {
        FUZZ_CHECK(value == nullptr);
        return;
    }
    FUZZ_CHECK(value != nullptr && m->value == value);
}

// Up to steps calls of strmap_next; each entry returned must be a live one.
void do_next(const subject& s, int steps)
{
    for (int i = 0; i < steps; ++i) {
        const strmap_entry* e = strmap_next(s.map);
        if (!e) {
            FUZZ_CHECK(s.map->iter_entry == nullptr);
            return;
        }
        check_entry(s, e);
    }
}

void do_grow(subject& s, int successes)
{
    strmap* map = s.map;
    const map_image before = image_of(map);
    if (successes >= 0)
        arm(successes);
    const int result = strmap_grow(map);
    disarm();
    if (result != 0) {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(before.iter_entry != nullptr || before.bucket_count >= 65536 || successes >= 0);
        FUZZ_CHECK(image_of(map) == before);
        return;
    }
    FUZZ_CHECK(before.iter_entry == nullptr);
    FUZZ_CHECK(map->bucket_count == 2 * before.bucket_count);
}

// Destroys the map and makes a new one of the kind the next byte picks; when
// the creation was made to fail, nothing must stay allocated (the leak
// checker watches) and the map is made again without failure.
void do_recreate(subject& s, std::uint8_t kind, int successes)
{
    strmap_destroy(s.map);
    const std::uint32_t flags = kinds[kind % 4];
    if (successes >= 0) {
        arm(successes);
        s.map = create(flags);
        disarm();
        if (s.map)
            FUZZ_CHECK(s.map->entry_count == 0 && s.map->bucket_count == 1);
    } else {
        s.map = nullptr;
    }
    if (!s.map)
        s.map = create(flags);
    FUZZ_CHECK(s.map != nullptr);
    s.expected = model{};
    s.expected.flags = flags;
}

// One operation: its byte, then its operands.
//   0  set a new key              key, value
//   1  set a variant of a key     entry index, case mask, value
//   2  get a new key              key
//   3  get a variant of a key     entry index, case mask
//   4  full check (with a whole iteration)
//   5  start an iteration and take some steps     steps
//   6  take more steps of the current iteration   steps
//   7  destroy and create anew    kind, fail byte
//   8  set with an allocation made to fail        fail byte, then as 0 or 1
//   9  grow by hand (growing maps only)           fail byte
// A fail byte b arms the failing allocator with b % 4 successes when bit 0x80
// is set (always, for operation 8).
void run_operation(subject& s, program& p)
{
    const std::uint8_t op = p.byte() % 10;
    switch (op) {
    case 0:
    case 1: {
        const std::string key = pick_key(p, s, op == 1);
        do_set(s, key, p.text(max_value_length), -1);
        break;
    }
    case 2:
    case 3:
        do_get(s, pick_key(p, s, op == 3));
        break;
    case 4:
        full_check(s);
        break;
    case 5:
        strmap_first(s.map);
        do_next(s, p.byte() % 8);
        break;
    case 6:
        do_next(s, p.byte() % 8);
        break;
    case 7: {
        const std::uint8_t kind = p.byte();
        const std::uint8_t fail = p.byte();
        do_recreate(s, kind, (fail & 0x80) ? fail % 4 : -1);
        break;
    }
    case 8: {
        const std::uint8_t fail = p.byte();
        const std::string key = pick_key(p, s, (fail & 0x40) != 0);
        do_set(s, key, p.text(max_value_length), fail % 4);
        break;
    }
    case 9: {
        const std::uint8_t fail = p.byte();
        if (!(s.map->flags & STRMAP_FIXED))
            do_grow(s, (fail & 0x80) ? fail % 4 : -1);
        break;
    }
    }
    light_check(s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    program p{data, size, 0};
    subject s;
    s.expected.flags = kinds[p.byte() % 4];
    s.map = create(s.expected.flags);
    FUZZ_CHECK(s.map != nullptr);
    while (!p.done())
        run_operation(s, p);
    full_check(s);
    strmap_destroy(s.map);
    return 0;
}
