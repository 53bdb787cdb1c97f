#pragma once

// Big-endian fields at an offset the test gives, for the frames and blocks
// tests build and take apart by hand. A field that lies outside the bytes
// throws, so a test with a wrong offset or a short frame fails instead of
// reading a zero or writing nothing.

#include "base/byte_cursor.hpp"
#include "base/mac_address.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace korvane {

namespace wire_fields_detail {
[[noreturn]] inline void outside(std::size_t width, std::size_t offset, std::size_t size) {
    throw std::out_of_range(std::to_string(width) + " bytes at " + std::to_string(offset) +
                            " lie outside " + std::to_string(size) + " bytes");
}
} // namespace wire_fields_detail

inline std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (const auto value = ByteReader(bytes, offset).u16())
        return *value;
    wire_fields_detail::outside(2, offset, bytes.size());
}
inline std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (const auto value = ByteReader(bytes, offset).u32())
        return *value;
    wire_fields_detail::outside(4, offset, bytes.size());
}
inline void writeU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    if (!ByteWriter(bytes, offset).u16(value))
        wire_fields_detail::outside(2, offset, bytes.size());
}
inline void writeU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    if (!ByteWriter(bytes, offset).u32(value))
        wire_fields_detail::outside(4, offset, bytes.size());
}
inline MacAddress macAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (const auto six = ByteReader(bytes, offset).block<6>())
        return MacAddress::fromBytes(*six);
    wire_fields_detail::outside(6, offset, bytes.size());
}

} // namespace korvane
