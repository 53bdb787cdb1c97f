#include "firmware/firmware_image.hpp"

#include "base/byte_cursor.hpp"
#include "protocol/frame.hpp"

#include <cstdio>
#include <fstream>
#include <new>
#include <system_error>

namespace korvane {

std::optional<std::uint32_t> FirmwareImage::bootIdentificationWord() const {
    if (!hasBootIdentificationWord())
        return std::nullopt;
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < kImageBootWordSize; ++i)
        word = (word << 8) | (bytes_[kImageBootWordOffset + i] & 0x0Fu);
    return word;
}

namespace {

std::span<std::uint8_t, kImageFactoryBlockSize> factoryBlock(std::vector<std::uint8_t>& bytes) {
    return std::span<std::uint8_t>(bytes)
        .subspan(kImageFactoryBlockOffset)
        .first<kImageFactoryBlockSize>();
}

// The block's sum with its own sum field counted as zero.
std::uint32_t bodySum(std::span<const std::uint8_t> block) {
    return BlockChecksum(block) - BlockChecksum(block.first(4));
}

} // namespace

bool FirmwareImage::factoryBlockValid() const {
    if (!hasFactoryBlock())
        return false;
    const auto block = std::span<const std::uint8_t>(bytes_)
                           .subspan(kImageFactoryBlockOffset)
                           .first<kImageFactoryBlockSize>();
    return loadU32<0>(block) == bodySum(block);
}

bool FirmwareImage::checkAndPatchFactoryBlock(const MacAddress& mac) {
    if (!factoryBlockValid())
        return false;
    const auto block = factoryBlock(bytes_);
    ByteWriter out(block, kImageFactoryMacOffset);
    out.bytes(mac.bytes);
    storeU32<0>(block, bodySum(block));
    return true;
}

std::uint32_t FirmwareImage::sum() const {
    return BlockChecksum(bytes_);
}

UnitImage::UnitImage(std::shared_ptr<const FirmwareImage> shared, std::uint32_t sharedSum)
    : shared_(std::move(shared)), sharedSum_(sharedSum), sum_(sharedSum) {}

std::optional<std::uint32_t> UnitImage::bootIdentificationWord() const {
    return shared_ ? shared_->bootIdentificationWord() : std::nullopt;
}

bool UnitImage::checkAndPatchFactoryBlock(const MacAddress& mac) {
    if (!shared_ || !shared_->factoryBlockValid())
        return false;
    // The whole transfer block that holds the factory block: the block lies
    // inside one transfer block, so every block is either all shared or all own.
    static_assert(kImageFactoryBlockOffset / kFirmwareBlockSize ==
                  (kImageFactoryBlockEnd - 1) / kFirmwareBlockSize);
    const auto image = shared_->bytes();
    patchedOffset_ = kImageFactoryBlockOffset - kImageFactoryBlockOffset % kFirmwareBlockSize;
    const std::size_t length = std::min(kFirmwareBlockSize, image.size() - patchedOffset_);
    const auto original = image.subspan(patchedOffset_, length);
    patchedBlock_.assign(original.begin(), original.end());

    const std::size_t within = kImageFactoryBlockOffset - patchedOffset_;
    const auto block =
        std::span<std::uint8_t>(patchedBlock_).subspan(within).first<kImageFactoryBlockSize>();
    const std::uint32_t before = BlockChecksum(block);
    ByteWriter out(block, kImageFactoryMacOffset);
    out.bytes(mac.bytes);
    storeU32<0>(block, bodySum(block));
    sum_ = sharedSum_ - before + BlockChecksum(block);
    return true;
}

std::span<const std::uint8_t> UnitImage::block(std::size_t offset, std::size_t length) const {
    if (!patchedBlock_.empty() && offset == patchedOffset_)
        return std::span<const std::uint8_t>(patchedBlock_).first(length);
    return shared_->bytes().subspan(offset, length);
}

ImageFileCheck CheckImageFile(const std::filesystem::path& path) {
    ImageFileCheck check;
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec))
        return check;
    check.length = std::filesystem::file_size(path, ec);
    if (ec)
        return {};
    if (!std::ifstream(path, std::ios::binary).is_open())
        check.verdict = ImageFileVerdict::CannotOpen;
    else if (check.length == 0)
        check.verdict = ImageFileVerdict::Empty;
    else if (check.length > kMaxImageLength)
        check.verdict = ImageFileVerdict::TooLarge;
    else if (check.length < kImageBootWordEnd)
        check.verdict = ImageFileVerdict::Short;
    else
        check.verdict = ImageFileVerdict::Usable;
    return check;
}

bool IsUsableImageFile(const std::filesystem::path& path) {
    const auto verdict = CheckImageFile(path).verdict;
    return verdict == ImageFileVerdict::Usable || verdict == ImageFileVerdict::Short;
}

ImageLoadResult LoadFirmwareImage(const std::filesystem::path& path, ImageFileLock& lock) {
    std::lock_guard guard(lock);
    ImageLoadResult result;
    std::error_code ec;
    // Only regular files: a FIFO or device would block or never end.
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
        result.error = ImageLoadError::CannotOpen;
        return result;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        result.error = ImageLoadError::CannotOpen;
        return result;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    file.seekg(0, std::ios::beg);
    if (end < 0 || !file) {
        result.error = ImageLoadError::CannotOpen;
        return result;
    }
    result.fileLength = static_cast<std::uint64_t>(end);
    if (result.fileLength == 0) {
        result.error = ImageLoadError::Empty;
        return result;
    }
    if (result.fileLength > kMaxImageLength) {
        result.error = ImageLoadError::TooLarge;
        return result;
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(result.fileLength));
    } catch (const std::bad_alloc&) {
        result.error = ImageLoadError::CannotAllocate;
        return result;
    }
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (file.gcount() != static_cast<std::streamsize>(bytes.size())) {
        result.error = ImageLoadError::ReadFailed;
        return result;
    }
    result.image.emplace(std::move(bytes));
    return result;
}

std::optional<std::string> ShortImageQuestion(std::uint64_t length) {
    if (length >= kImageBootWordEnd)
        return std::nullopt;
    // Every image of these devices carries both parts; a file without them
    // is most likely the wrong file, and sending it wipes the device's firmware.
    std::string text = "The image file is " + std::to_string(length) +
                       " bytes long, shorter than the " + std::to_string(kImageBootWordEnd) +
                       " bytes of a firmware image for these devices. It has no boot "
                       "identification word, so the devices' boot versions cannot be checked";
    if (length < kImageFactoryBlockEnd)
        text += ", and no complete factory block, so it cannot carry each device's MAC address "
                "(devices with hardware version 1.1.0.0 or firmware version 1 refuse it)";
    text += ".\nContinue anyway?";
    return text;
}

std::string ImageRefusalText(const ImageFileCheck& check) {
    switch (check.verdict) {
    case ImageFileVerdict::CannotOpen:
        return "the image file cannot be read";
    case ImageFileVerdict::Empty:
        return "the image file is empty";
    case ImageFileVerdict::TooLarge:
        return "the image file is " + std::to_string(check.length) + " bytes long, more than " +
               std::to_string(kMaxFirmwareBlocks) + " blocks of " +
               std::to_string(kFirmwareBlockSize) + " bytes (" +
               std::to_string(kMaxImageLength / (1024 * 1024)) +
               " MiB), which the devices cannot number";
    case ImageFileVerdict::Short:
        return ShortImageQuestion(check.length).value_or("");
    case ImageFileVerdict::Usable:
        break;
    }
    return {};
}

} // namespace korvane
