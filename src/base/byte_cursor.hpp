#pragma once

// Bounds-checked big-endian access to a byte range. Every read or write that
// would leave the range fails (returns nullopt / false) instead of touching
// memory past it, so codecs can be fed short or hostile frames safely.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace korvane {

class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes, std::size_t offset = 0)
        : bytes_(bytes), offset_(offset) {}

    std::size_t offset() const { return offset_; }
    std::size_t remaining() const { return offset_ <= bytes_.size() ? bytes_.size() - offset_ : 0; }
    bool seek(std::size_t offset) {
        if (offset > bytes_.size())
            return false;
        offset_ = offset;
        return true;
    }

    std::optional<std::uint8_t> u8() {
        if (remaining() < 1)
            return std::nullopt;
        return bytes_[offset_++];
    }
    std::optional<std::uint16_t> u16() {
        if (remaining() < 2)
            return std::nullopt;
        const auto value = static_cast<std::uint16_t>((bytes_[offset_] << 8) | bytes_[offset_ + 1]);
        offset_ += 2;
        return value;
    }
    std::optional<std::uint32_t> u32() {
        if (remaining() < 4)
            return std::nullopt;
        const std::uint32_t value =
            (std::uint32_t{bytes_[offset_]} << 24) | (std::uint32_t{bytes_[offset_ + 1]} << 16) |
            (std::uint32_t{bytes_[offset_ + 2]} << 8) | std::uint32_t{bytes_[offset_ + 3]};
        offset_ += 4;
        return value;
    }
    // The next N bytes as a block of fixed size, or nullopt when fewer remain.
    template <std::size_t N>
    std::optional<std::span<const std::uint8_t, N>> block() {
        if (remaining() < N)
            return std::nullopt;
        const auto view = bytes_.subspan(offset_).template first<N>();
        offset_ += N;
        return view;
    }
    // A view of the next n bytes, or nullopt when fewer remain.
    std::optional<std::span<const std::uint8_t>> bytes(std::size_t n) {
        if (remaining() < n)
            return std::nullopt;
        auto view = bytes_.subspan(offset_, n);
        offset_ += n;
        return view;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t offset_;
};

class ByteWriter {
  public:
    explicit ByteWriter(std::span<std::uint8_t> bytes, std::size_t offset = 0)
        : bytes_(bytes), offset_(offset) {}

    std::size_t offset() const { return offset_; }
    std::size_t remaining() const { return offset_ <= bytes_.size() ? bytes_.size() - offset_ : 0; }
    bool seek(std::size_t offset) {
        if (offset > bytes_.size())
            return false;
        offset_ = offset;
        return true;
    }

    bool u8(std::uint8_t value) {
        if (remaining() < 1)
            return false;
        bytes_[offset_++] = value;
        return true;
    }
    bool u16(std::uint16_t value) {
        if (remaining() < 2)
            return false;
        bytes_[offset_] = static_cast<std::uint8_t>(value >> 8);
        bytes_[offset_ + 1] = static_cast<std::uint8_t>(value);
        offset_ += 2;
        return true;
    }
    bool u32(std::uint32_t value) {
        if (remaining() < 4)
            return false;
        for (int i = 0; i < 4; ++i)
            bytes_[offset_ + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(value >> (24 - 8 * i));
        offset_ += 4;
        return true;
    }
    bool bytes(std::span<const std::uint8_t> data) {
        if (remaining() < data.size())
            return false;
        if (!data.empty())
            std::memcpy(bytes_.data() + offset_, data.data(), data.size());
        offset_ += data.size();
        return true;
    }
    // Writes the text and zero-fills the rest of a field of `width` bytes; the
    // text must leave room for at least one terminating zero.
    bool text(std::string_view value, std::size_t width) {
        if (remaining() < width || value.size() >= width)
            return false;
        std::memset(bytes_.data() + offset_, 0, width);
        if (!value.empty())
            std::memcpy(bytes_.data() + offset_, value.data(), value.size());
        offset_ += width;
        return true;
    }

  private:
    std::span<std::uint8_t> bytes_;
    std::size_t offset_;
};

// Big-endian fields at a fixed offset of a fixed-size block: a std::array, or
// a span of fixed extent such as fixedHead<N>() gives. The compiler checks
// that the field lies inside the block, so no read or write can come up short;
// a block whose size is known only at run time is read with a ByteReader.
template <std::size_t Offset, typename Block>
constexpr std::uint16_t loadU16(const Block& block) {
    const std::span bytes{block};
    static_assert(decltype(bytes)::extent != std::dynamic_extent, "a block of fixed size");
    static_assert(Offset + 2 <= decltype(bytes)::extent, "a field inside the block");
    return static_cast<std::uint16_t>((bytes[Offset] << 8) | bytes[Offset + 1]);
}
template <std::size_t Offset, typename Block>
constexpr std::uint32_t loadU32(const Block& block) {
    const std::span bytes{block};
    static_assert(decltype(bytes)::extent != std::dynamic_extent, "a block of fixed size");
    static_assert(Offset + 4 <= decltype(bytes)::extent, "a field inside the block");
    return (std::uint32_t{bytes[Offset]} << 24) | (std::uint32_t{bytes[Offset + 1]} << 16) |
           (std::uint32_t{bytes[Offset + 2]} << 8) | std::uint32_t{bytes[Offset + 3]};
}
template <std::size_t Offset, typename Block>
constexpr void storeU16(Block& block, std::uint16_t value) {
    const std::span bytes{block};
    static_assert(decltype(bytes)::extent != std::dynamic_extent, "a block of fixed size");
    static_assert(Offset + 2 <= decltype(bytes)::extent, "a field inside the block");
    bytes[Offset] = static_cast<std::uint8_t>(value >> 8);
    bytes[Offset + 1] = static_cast<std::uint8_t>(value);
}
template <std::size_t Offset, typename Block>
constexpr void storeU32(Block& block, std::uint32_t value) {
    const std::span bytes{block};
    static_assert(decltype(bytes)::extent != std::dynamic_extent, "a block of fixed size");
    static_assert(Offset + 4 <= decltype(bytes)::extent, "a field inside the block");
    for (std::size_t i = 0; i < 4; ++i)
        bytes[Offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// The first N bytes as a block of fixed size, or nullopt when fewer are there.
template <std::size_t N, typename Byte>
constexpr std::optional<std::span<Byte, N>> fixedHead(std::span<Byte> bytes) {
    if (bytes.size() < N)
        return std::nullopt;
    return bytes.template first<N>();
}

// Whether every byte is zero (an empty span is).
inline bool allZero(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes)
        if (b != 0)
            return false;
    return true;
}

// The zero-terminated text at the start of a fixed-width field (never reads past it).
inline std::string_view fieldText(std::span<const std::uint8_t> field) {
    std::size_t n = 0;
    while (n < field.size() && field[n] != 0)
        ++n;
    return {reinterpret_cast<const char*>(field.data()), n};
}

} // namespace korvane
