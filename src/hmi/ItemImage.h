// ItemImage: the bytes of one item the transfer sends, as a read-only window onto storage that
// may be shared.
//
// A form that checked its own container owns a copy of each ticked item. Forms that run side by
// side on one container (one per port) instead share the container's parts: each form's image
// is a window onto the same bytes, kept alive by a shared pointer, so that eight ports on a
// 64 MiB container hold it once. The transfer consumes an image from the front (DropFront)
// without touching the bytes themselves.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

namespace tarvex {

class ItemImage {
  public:
    ItemImage() = default;
    // An image owning these bytes.
    ItemImage(std::vector<std::uint8_t> bytes)  // NOLINT: a vector is an image
        : ItemImage(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))) {}
    ItemImage(std::initializer_list<std::uint8_t> bytes)
        : ItemImage(std::vector<std::uint8_t>(bytes)) {}
    // A window onto all of `shared`, which may be shared with other images and other forms.
    explicit ItemImage(std::shared_ptr<const std::vector<std::uint8_t>> shared)
        : storage_(std::move(shared)), size_(storage_ ? storage_->size() : 0) {}

    std::span<const std::uint8_t> Bytes() const {
        return storage_ ? std::span<const std::uint8_t>(storage_->data() + offset_, size_)
                        : std::span<const std::uint8_t>();
    }
    operator std::span<const std::uint8_t>() const { return Bytes(); }  // NOLINT
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::uint8_t* data() const { return Bytes().data(); }
    auto begin() const { return Bytes().begin(); }
    auto end() const { return Bytes().end(); }

    // Bytes [from, from + count) of this image, clamped to it, sharing its storage.
    ItemImage Slice(std::size_t from, std::size_t count) const {
        ItemImage part = *this;
        part.offset_ += std::min(from, size_);
        part.size_ = std::min(count, size_ - std::min(from, size_));
        return part;
    }
    // The first `count` bytes leave the image (all of them when it holds fewer).
    void DropFront(std::size_t count) { *this = Slice(count, size_); }

    // The same bytes, wherever they are kept.
    friend bool operator==(const ItemImage& a, const ItemImage& b) {
        return std::ranges::equal(a.Bytes(), b.Bytes());
    }
    friend bool operator==(const ItemImage& a, const std::vector<std::uint8_t>& b) {
        return std::ranges::equal(a.Bytes(), b);
    }
    // The storage this image is a window onto (for the tests of sharing).
    const void* Storage() const { return storage_.get(); }

  private:
    std::shared_ptr<const std::vector<std::uint8_t>> storage_;
    std::size_t offset_ = 0;
    std::size_t size_ = 0;
};

}  // namespace tarvex
