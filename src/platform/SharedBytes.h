// Read-only bytes that share one buffer: a whole file, and views of its parts that cost nothing
// to copy. A container near 4 GiB is held once, however many parts, item buffers and recipes
// look into it; the buffer lives as long as the last view of it.
//
//   SharedBytes(std::vector<uint8_t>)  takes the bytes over, without copying them
//   SharedBytes{1, 2, 3}               bytes of its own (tests, small buffers)
//   Sub(offset, count)                 a view of part of these bytes (clamped to them)
//   DropFront(count)                   the first bytes leave the view
//   Storage()                          the buffer viewed, to tell whether two views share it
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

namespace tarvex {

class SharedBytes {
  public:
    using value_type = std::uint8_t;
    using size_type = std::size_t;
    using const_iterator = const std::uint8_t*;
    using iterator = const_iterator;

    SharedBytes() = default;
    explicit SharedBytes(std::vector<std::uint8_t> bytes)
        : buffer_(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))),
          size_(buffer_->size()) {}
    SharedBytes(std::initializer_list<std::uint8_t> bytes)
        : SharedBytes(std::vector<std::uint8_t>(bytes)) {}

    // Bytes [offset, offset + count) of these, as far as they exist.
    SharedBytes Sub(std::size_t offset, std::size_t count = static_cast<std::size_t>(-1)) const {
        SharedBytes view;
        const std::size_t from = std::min(offset, size_);
        view.buffer_ = buffer_;
        view.offset_ = offset_ + from;
        view.size_ = std::min(count, size_ - from);
        return view;
    }

    SharedBytes Slice(std::size_t offset, std::size_t count) const { return Sub(offset, count); }
    void DropFront(std::size_t count) { *this = Sub(count); }
    const void* Storage() const { return buffer_.get(); }

    const std::uint8_t* data() const { return buffer_ ? buffer_->data() + offset_ : nullptr; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size_; }
    std::uint8_t operator[](std::size_t i) const { return data()[i]; }
    std::span<const std::uint8_t> span() const { return {data(), size_}; }
    std::span<const std::uint8_t> Bytes() const { return span(); }
    operator std::span<const std::uint8_t>() const { return span(); }  // NOLINT: a view
    void clear() { *this = SharedBytes(); }

    friend bool operator==(const SharedBytes& a, std::span<const std::uint8_t> b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
    friend bool operator==(const SharedBytes& a, const SharedBytes& b) { return a == b.span(); }
    friend bool operator==(const SharedBytes& a, const std::vector<std::uint8_t>& b) {
        return a == std::span<const std::uint8_t>(b);
    }

  private:
    std::shared_ptr<const std::vector<std::uint8_t>> buffer_;
    std::size_t offset_ = 0;
    std::size_t size_ = 0;
};

}  // namespace tarvex
