#pragma once
// Large buffers of a process's own: anonymous memory, uninitialised, whose pages are
// taken only as they are written (a file whose rows stop early never costs the memory
// its header claims), and taken in huge pages where the system gives them: a page
// fault, and on a virtual machine a first touch, for every 2 MiB instead of every 4 KiB.

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace vistrel {

// Huge pages are asked for from the size of one on.
inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// The bytes a mapping of `bytes` takes: from a huge page's size on, whole huge pages, so
// that its last part is one huge page too, not hundreds of small ones, each a page fault
// (and on these virtual machines a fault of a small page costs some 10 us, about what
// clearing a whole huge page takes).
inline std::size_t MappedBytes(std::size_t bytes) {
    if (bytes < kHugePageBytes) return bytes;
    return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}

// MappedBytes(bytes) mapped, starting on a huge page's boundary where they are a huge
// page or more (a mapping the system places anywhere would start and end in small
// pages), and asked for in huge pages; nullptr when there is no memory for them. Given
// back with munmap(at, MappedBytes(bytes)).
inline void* MapPages(std::size_t bytes) {
    const std::size_t mapped = MappedBytes(bytes);
    if (bytes < kHugePageBytes) {
        void* const at = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return at == MAP_FAILED ? nullptr : at;
    }
    // A huge page more than needed, then the parts before the boundary and after the end go back.
    void* const reserved =
        ::mmap(nullptr, mapped + kHugePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED) return nullptr;
    const auto first = reinterpret_cast<std::uintptr_t>(reserved);
    const std::uintptr_t aligned = (first + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    if (aligned > first) ::munmap(reserved, aligned - first);
    const std::uintptr_t end = first + mapped + kHugePageBytes;
    if (end > aligned + mapped) ::munmap(reinterpret_cast<void*>(aligned + mapped), end - (aligned + mapped));
    void* const at = reinterpret_cast<void*>(aligned);
    (void)::madvise(at, mapped, MADV_HUGEPAGE);
    return at;
}

// An allocator of such pages for a vector of plain values: its elements are left as the
// pages are (zero, and not yet taken) until they are written.
template <class T>
struct PageAllocator {
    using value_type = T;
    PageAllocator() = default;
    template <class U>
    PageAllocator(const PageAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        void* const mapped = MapPages(n * sizeof(T));
        if (mapped == nullptr) throw std::bad_alloc();
        return static_cast<T*>(mapped);
    }
    void deallocate(T* at, std::size_t n) noexcept { ::munmap(at, n * sizeof(T)); }
    template <class U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Arguments>
    void construct(U* at, Arguments&&... arguments) {
        ::new (static_cast<void*>(at)) U(std::forward<Arguments>(arguments)...);
    }
    template <class U>
    bool operator==(const PageAllocator<U>&) const noexcept {
        return true;
    }
};

// A reader's scratch buffer in such pages, given back when it goes.
class PageBuffer {
public:
    PageBuffer() = default;
    // data() is nullptr when there is no memory for it.
    explicit PageBuffer(std::size_t bytes) {
        if (bytes == 0) return;
        data_ = static_cast<std::uint8_t*>(MapPages(bytes));
        if (data_ != nullptr) bytes_ = bytes;
    }
    PageBuffer(PageBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}
    PageBuffer& operator=(PageBuffer&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(bytes_, other.bytes_);
        return *this;
    }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;
    ~PageBuffer() {
        if (data_ != nullptr) ::munmap(data_, MappedBytes(bytes_));
    }

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return bytes_; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t bytes_ = 0;
};

}  // namespace vistrel
