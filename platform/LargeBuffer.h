// A byte buffer meant to hold a whole archive entry: large ones sit on huge pages where the
// system offers them, so that filling one costs a few hundred page faults instead of a quarter
// million.
#pragma once

#include <cstddef>

namespace tessera {

class LargeBuffer {
public:
    LargeBuffer() = default;
    ~LargeBuffer();
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;

    // At least size bytes, contents undefined; grows (dropping the contents) but never shrinks.
    std::byte* Reserve(std::size_t size);
    void Release();

private:
    std::byte* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace tessera
