// Firmware image files: the boot identification word, the factory block
// check and patch, and the image sum over any bytes. Nothing may read or
// write past the image, and the patch may change only the MAC and the sum of
// a valid block.
//
// The first input byte picks the layout: odd puts the rest of the input at
// 0xFEE0, after zeros, so that short inputs reach the factory block and the
// boot word; even takes the rest as the whole image.
//
// Every input of the first kind makes a 64 KiB image, so the target keeps
// its work per run small: one buffer reused from run to run, whole-range
// compares instead of a loop over every byte, and no sum over the zeros in
// front (it adds nothing but time: those bytes are the same in every run).
// The image's own copy is still a fresh 64 KiB allocation per run; with the
// address sanitizer's default quarantine (256 MiB) each one lands on pages
// never touched before, and the page faults alone held the target to about a
// hundred runs a second, so the quarantine is kept small here.

#include "firmware/firmware_image.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" const char* __asan_default_options();

extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=4";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    if (size == 0)
        return 0;
    constexpr std::size_t kTailStart = kImageFactoryBlockOffset - 32;
    const bool tail = (data[0] & 1) != 0;
    static std::vector<std::uint8_t> bytes;
    bytes.assign(tail ? kTailStart : 0, 0);
    bytes.insert(bytes.end(), data + 1, data + size);
    FirmwareImage image(bytes);

    const auto word = image.bootIdentificationWord();
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
    // Only the block's sum field and MAC may have changed.
    const auto after = image.bytes();
    const std::size_t keepTo = valid ? kImageFactoryBlockOffset : bytes.size();
    const std::size_t keepFrom =
        valid ? kImageFactoryBlockOffset + kImageFactoryMacOffset + 6 : bytes.size();
    if (!bytes.empty() && (std::memcmp(after.data(), bytes.data(), keepTo) != 0 ||
                           std::memcmp(after.data() + keepFrom, bytes.data() + keepFrom,
                                       bytes.size() - keepFrom) != 0))
        __builtin_trap();
    if (valid && !image.factoryBlockValid())
        __builtin_trap(); // a patched block carries a matching sum

    volatile std::uint64_t sink = ShortImageQuestion(bytes.size()).has_value();
    if (!tail)
        sink = sink + image.sum();
    return 0;
}
