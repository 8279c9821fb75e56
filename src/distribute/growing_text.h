// A text gathered in pieces of unknown total length, held once.
//
// An input document reaches the module as a stream of short reads whose
// total the host does not tell. A string grown by doubling holds the old
// and the new block side by side at every growth, so a large document took
// up to three times its size at the peak. This buffer grows with realloc,
// which on the usual allocators moves a large block by remapping its pages
// rather than by copying them, so the text is resident once as it grows.
#ifndef SPLIT_DISTRIBUTE_GROWING_TEXT_H
#define SPLIT_DISTRIBUTE_GROWING_TEXT_H

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace split {

class GrowingText {
public:
    GrowingText() = default;
    ~GrowingText() { std::free(data_); }
    GrowingText(const GrowingText&) = delete;
    GrowingText& operator=(const GrowingText&) = delete;

    // Appends `length` bytes; throws std::bad_alloc when no room is left.
    void append(const char* bytes, size_t length) {
        if (length > capacity_ - size_) grow(length);
        std::memcpy(data_ + size_, bytes, length);
        size_ += length;
    }

    const char* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

private:
    void grow(size_t more) {
        size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_;
        while (capacity - size_ < more) {
            if (capacity > static_cast<size_t>(-1) / 2) throw std::bad_alloc();
            capacity *= 2;
        }
        void* moved = std::realloc(data_, capacity);
        if (moved == nullptr) throw std::bad_alloc();
        data_ = static_cast<char*>(moved);
        capacity_ = capacity;
    }

    static constexpr size_t kFirstCapacity = 64 * 1024;
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace split

#endif
