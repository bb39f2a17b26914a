#include "host/kernel/guarded_block.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace bayercam::host::pool {
namespace {

constexpr SIZE_T kAlignment = 16;

SIZE_T pageSize() noexcept {
    static const SIZE_T size = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
    return size;
}

SIZE_T alignedBytes(SIZE_T bytes) noexcept { return (bytes + kAlignment - 1) & ~(kAlignment - 1); }

SIZE_T dataPages(SIZE_T bytes) noexcept {
    return (alignedBytes(bytes) + pageSize() - 1) / pageSize();
}

// The first byte of the mapping that holds a block: the data pages precede the guard page.
char* mappingOf(void* block, SIZE_T bytes) noexcept {
    const auto end = reinterpret_cast<std::uintptr_t>(block) + alignedBytes(bytes);
    return reinterpret_cast<char*>(end - dataPages(bytes) * pageSize());
}

}  // namespace

void* allocateGuarded(SIZE_T bytes) noexcept {
    const SIZE_T data = dataPages(bytes) * pageSize();
    void* mapping = mmap(nullptr, data + pageSize(), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    char* guard = static_cast<char*>(mapping) + data;
    if (mprotect(guard, pageSize(), PROT_NONE) != 0) {
        munmap(mapping, data + pageSize());
        return nullptr;
    }
    return guard - alignedBytes(bytes);
}

void revokeGuarded(void* block, SIZE_T bytes) noexcept {
    mprotect(mappingOf(block, bytes), dataPages(bytes) * pageSize(), PROT_NONE);
}

void releaseGuarded(void* block, SIZE_T bytes) noexcept {
    munmap(mappingOf(block, bytes), (dataPages(bytes) + 1) * pageSize());
}

}  // namespace bayercam::host::pool
