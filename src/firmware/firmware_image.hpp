#pragma once

// A firmware image file: the bytes sent to a device from offset 0, with two
// things read out of it before the transfer -- the boot identification word
// and the 28-byte factory block, which each unit patches with its own MAC in
// its own buffer (see UnitImage). The image carries no load address.

#include "base/mac_address.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korvane {

inline constexpr std::size_t kImageFactoryBlockOffset = 0xFF00;
inline constexpr std::size_t kImageFactoryBlockSize = 28;
inline constexpr std::size_t kImageFactoryMacOffset = 4; // within the block
inline constexpr std::size_t kImageBootWordOffset = 0xFFE4;
inline constexpr std::size_t kImageBootWordSize = 4;
// Shortest images that hold each part; shorter ones simply lack it.
inline constexpr std::size_t kImageFactoryBlockEnd =
    kImageFactoryBlockOffset + kImageFactoryBlockSize;
inline constexpr std::size_t kImageBootWordEnd = kImageBootWordOffset + kImageBootWordSize;

inline constexpr std::size_t kFirmwareBlockSize = 1024;
// Block numbers travel in the frame's 16-bit parameter field: an image that
// needs more blocks would have its numbers wrap and be stored out of place.
inline constexpr std::size_t kMaxFirmwareBlocks = 65536;
inline constexpr std::size_t kMaxImageLength = kMaxFirmwareBlocks * kFirmwareBlockSize;

// Held by a unit while it opens and reads the file, so that units starting
// together read it one after another. One per upgrade session.
using ImageFileLock = std::mutex;

// The flash boot word of a device and the image's boot identification word
// share a layout: boot version in bits 31..16, compatibility code in bits 7..0.
inline std::uint16_t BootVersionOf(std::uint32_t word) {
    return static_cast<std::uint16_t>(word >> 16);
}
inline std::uint8_t CompatibilityCodeOf(std::uint32_t word) {
    return static_cast<std::uint8_t>(word & 0xFF);
}

class FirmwareImage {
  public:
    FirmwareImage() = default;
    explicit FirmwareImage(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::span<const std::uint8_t> bytes() const { return bytes_; }
    std::uint32_t length() const { return static_cast<std::uint32_t>(bytes_.size()); }

    bool hasBootIdentificationWord() const { return bytes_.size() >= kImageBootWordEnd; }
    bool hasFactoryBlock() const { return bytes_.size() >= kImageFactoryBlockEnd; }

    // The low four bits of each of the bytes at 0xFFE4..0xFFE7, the first one
    // highest, so ASCII digits there read as their values. nullopt when the
    // image is too short to hold them.
    std::optional<std::uint32_t> bootIdentificationWord() const;

    // Whether the factory block's stored sum matches the sum over the block
    // with its sum field taken as zero. An image too short to hold the whole
    // block has none, which counts as not valid.
    bool factoryBlockValid() const;
    // When the block is valid, writes `mac` into it and renews its sum;
    // otherwise leaves the image untouched. Returns whether it was valid.
    bool checkAndPatchFactoryBlock(const MacAddress& mac);

    // BlockChecksum over the whole image (taken after the patch).
    std::uint32_t sum() const;

  private:
    std::vector<std::uint8_t> bytes_;
};

// One unit's image without a copy of its own: every transfer block comes from
// an image that all units of a run share, except the block that holds the
// factory block, which the unit patches with its own MAC in a buffer of its
// own. The sum follows from the shared image's sum and the patch (the sum is
// a plain byte sum, so only the changed bytes count).
class UnitImage {
  public:
    UnitImage() = default;
    // `sharedSum` is shared->sum(), taken once for all units.
    UnitImage(std::shared_ptr<const FirmwareImage> shared, std::uint32_t sharedSum);

    std::uint32_t length() const { return shared_ ? shared_->length() : 0; }
    std::optional<std::uint32_t> bootIdentificationWord() const;
    bool hasBootIdentificationWord() const {
        return shared_ && shared_->hasBootIdentificationWord();
    }
    // As FirmwareImage::checkAndPatchFactoryBlock, on the unit's own buffer;
    // the shared image is never written.
    bool checkAndPatchFactoryBlock(const MacAddress& mac);
    std::uint32_t sum() const { return sum_; }
    // `length` bytes from `offset` as this unit sends them; `offset` is a
    // multiple of kFirmwareBlockSize and `length` at most one block.
    std::span<const std::uint8_t> block(std::size_t offset, std::size_t length) const;

  private:
    std::shared_ptr<const FirmwareImage> shared_;
    std::uint32_t sharedSum_ = 0;
    std::uint32_t sum_ = 0;
    std::size_t patchedOffset_ = 0;          // of the unit's own transfer block
    std::vector<std::uint8_t> patchedBlock_; // empty until the factory block was patched
};

// What a look at the file, before anything is searched or sent, makes of it.
enum class ImageFileVerdict {
    Usable,     // long enough to hold the boot word and the factory block
    Short,      // shorter than that: no image of this device family; sent only when confirmed
    CannotOpen, // missing, unreadable, or not a regular file
    Empty,
    TooLarge, // more blocks than the block number can count
};
struct ImageFileCheck {
    ImageFileVerdict verdict = ImageFileVerdict::CannotOpen;
    std::uint64_t length = 0;
};
ImageFileCheck CheckImageFile(const std::filesystem::path& path);

// Whether the file may be offered for a run (the Download button's test): it
// opens for reading, is not empty and not too large. A short file passes;
// the run asks about it.
bool IsUsableImageFile(const std::filesystem::path& path);

// The question asked before a run with an image of `length` bytes that lacks
// its boot identification word or factory block; nullopt when it has both.
std::optional<std::string> ShortImageQuestion(std::uint64_t length);
// Why a file that is not Usable or Short cannot be sent, for a message.
std::string ImageRefusalText(const ImageFileCheck& check);

enum class ImageLoadError {
    None,
    CannotOpen,     // missing, unreadable, or not a regular file
    Empty,          // nothing to send
    TooLarge,       // more blocks than the block number can count
    CannotAllocate, // no memory for the copy
    ReadFailed,     // the file shrank or failed while it was read
};

struct ImageLoadResult {
    std::optional<FirmwareImage> image;
    ImageLoadError error = ImageLoadError::None;
    std::uint64_t fileLength = 0; // known unless the file could not be opened
};

// Opens and reads the whole file while holding `lock`.
ImageLoadResult LoadFirmwareImage(const std::filesystem::path& path, ImageFileLock& lock);

} // namespace korvane
