// Counts heap allocations of the process it is preloaded into and writes the
// count to the file named by BENCH_ALLOC_OUT when the process exits.
//
//   LD_PRELOAD=bench_alloc_count.so BENCH_ALLOC_OUT=/tmp/n program ...
//
// Every allocating entry point of the C library is taken over and handed on
// to glibc's own implementation; operator new ends in malloc, so it counts too.
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {
std::atomic<unsigned long long> allocations{0};

void counted() { allocations.fetch_add(1, std::memory_order_relaxed); }

// Runs after main has returned; plain system calls, so nothing here allocates.
__attribute__((destructor)) void write_count()
{
    const char* path = std::getenv("BENCH_ALLOC_OUT");
    if (!path)
        return;
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%llu\n", allocations.load());
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    (void)!write(fd, text, static_cast<std::size_t>(length));
    close(fd);
}
} // namespace

extern "C" {

void* malloc(std::size_t size)
{
    counted();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size)
{
    counted();
    return __libc_calloc(count, size);
}

void* realloc(void* old, std::size_t size)
{
    counted();
    return __libc_realloc(old, size);
}

void* memalign(std::size_t alignment, std::size_t size)
{
    counted();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    counted();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size)
{
    counted();
    void* p = __libc_memalign(alignment, size);
    if (!p)
        return 12;  // ENOMEM
    *result = p;
    return 0;
}

void* valloc(std::size_t size)
{
    counted();
    return __libc_memalign(static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), size);
}

} // extern "C"
