// Firmware image files: the boot identification word, the factory block
// check and patch, and the image sum over any bytes. Nothing may read or
// write past the image, and the patch may change only the MAC and the sum of
// a valid block.
//
// The first input byte picks the layout: odd puts the rest of the input at
// 0xFEE0, after zeros, so that short inputs reach the factory block and the
// boot word; even takes the rest as the whole image.

#include "firmware/firmware_image.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    if (size == 0)
        return 0;
    constexpr std::size_t kTailStart = kImageFactoryBlockOffset - 32;
    std::vector<std::uint8_t> bytes((data[0] & 1) != 0 ? kTailStart : 0, 0);
    bytes.insert(bytes.end(), data + 1, data + size);
    FirmwareImage image(bytes);

    const auto word = image.BootIdentificationWord();
    if (word.has_value() != (bytes.size() >= kImageBootWordEnd))
        __builtin_trap();
    if (word && (*word & 0xF0F0F0F0u) != 0)
        __builtin_trap(); // only the low four bits of each byte count

    const bool valid = image.factoryBlockValid();
    if (valid && bytes.size() < kImageFactoryBlockEnd)
        __builtin_trap();
    const MacAddress mac{{0x02, 0x19, 0xA7, 0x12, 0x34, 0x56}};
    if (image.checkAndPatchFactoryBlock(mac) != valid || image.length() != bytes.size())
        __builtin_trap();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool patched = valid && i >= kImageFactoryBlockOffset &&
                             i < kImageFactoryBlockOffset + kImageFactoryMacOffset + 6;
        if (!patched && image.bytes()[i] != bytes[i])
            __builtin_trap();
    }
    if (valid && !image.factoryBlockValid())
        __builtin_trap(); // a patched block carries a matching sum

    volatile std::uint64_t sink = image.sum();
    sink = sink + ShortImageQuestion(bytes.size()).has_value();
    return 0;
}
