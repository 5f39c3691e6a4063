// Large buffers on huge pages (Linux transparent huge pages; plain memory elsewhere).
#include "LargeBuffer.h"

#include <cstdlib>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tessera {

#ifdef __linux__
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}
#endif

LargeBuffer::~LargeBuffer() { Release(); }

void LargeBuffer::Release()
{
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
}

std::byte* LargeBuffer::Reserve(std::size_t size)
{
    if (size <= size_ && data_)
        return data_;
    Release();   // the old one goes before the new one comes
#ifdef __linux__
    if (size >= kHugePage) {
        const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
        void* memory = std::aligned_alloc(kHugePage, rounded);
        if (!memory)
            throw std::bad_alloc();
        ::madvise(memory, rounded, MADV_HUGEPAGE);   // a hint: without huge pages it is plain memory
        data_ = static_cast<std::byte*>(memory);
        size_ = rounded;
        return data_;
    }
#endif
    void* memory = std::malloc(size ? size : 1);
    if (!memory)
        throw std::bad_alloc();
    data_ = static_cast<std::byte*>(memory);
    size_ = size;
    return data_;
}

} // namespace tessera
