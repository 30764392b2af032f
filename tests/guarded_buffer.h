#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

// A byte buffer with an inaccessible page right after its end or right before its start, so that a
// read or write one byte outside it faults at once instead of passing unnoticed.
class guarded_buffer {
public:
    enum class guard { after, before };

    guarded_buffer(size_t size, guard where) : size_(size) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t span = (size + page - 1) / page * page;
        mapped_size_ = span + 2 * page;
        void *mapped =
            mmap(nullptr, mapped_size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            mapped_ = nullptr;
            return;
        }
        mapped_ = static_cast<uint8_t *>(mapped);
        mprotect(mapped_, page, PROT_NONE);
        mprotect(mapped_ + page + span, page, PROT_NONE);
        data_ = where == guard::after ? mapped_ + page + span - size : mapped_ + page;
    }

    ~guarded_buffer() {
        if (mapped_ != nullptr) {
            munmap(mapped_, mapped_size_);
        }
    }

    guarded_buffer(const guarded_buffer &) = delete;
    guarded_buffer &operator=(const guarded_buffer &) = delete;

    bool ok() const { return mapped_ != nullptr; }
    uint8_t *data() { return data_; }
    size_t size() const { return size_; }

private:
    size_t size_;
    size_t mapped_size_ = 0;
    uint8_t *mapped_ = nullptr;
    uint8_t *data_ = nullptr;
};
