#include "allocationcount.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{

std::atomic<long> allocations{0};

} // namespace

long allocationCount()
{
    return allocations.load(std::memory_order_relaxed);
}

// Kept in a file of their own: the compiler never sees a call site and the
// replacement together, so it cannot mistake the malloc/free pairing for a
// mismatched new/free.
void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
