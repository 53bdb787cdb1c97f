// The firmware image: boot identification word, factory block check and
// patch, loading, and what short images lack.

#include "firmware/firmware_image.hpp"
#include "firmware/upgrade.hpp"
#include "unit/firmware_test_support.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace korvane {
namespace {

using test::MakeImage;
using test::TempDir;

constexpr MacAddress kUnitA{{0x02, 0x19, 0xA7, 0x00, 0x01, 0x23}};
constexpr MacAddress kUnitB{{0x02, 0x19, 0xA7, 0x00, 0x04, 0x56}};

std::span<const std::uint8_t> factoryBlockOf(const FirmwareImage& image) {
    return image.bytes().subspan(kImageFactoryBlockOffset, kImageFactoryBlockSize);
}

TEST(FirmwareImage, ValidFactoryBlockIsPatchedWithEachUnitsOwnMac) {
    const auto original = MakeImage(0x10000);
    FirmwareImage a(original);
    FirmwareImage b(original);
    ASSERT_TRUE(a.factoryBlockValid());

    EXPECT_TRUE(a.checkAndPatchFactoryBlock(kUnitA));
    EXPECT_TRUE(b.checkAndPatchFactoryBlock(kUnitB));

    for (const auto& [image, mac] : {std::pair{&a, kUnitA}, std::pair{&b, kUnitB}}) {
        const auto block = factoryBlockOf(*image);
        EXPECT_TRUE(std::equal(mac.bytes.begin(), mac.bytes.end(), block.begin() + 4));
        // The new sum is the sum over the block with the new MAC and a zero sum field.
        EXPECT_EQ(readU32(block, 0), BlockChecksum(block.subspan(4)));
        EXPECT_TRUE(image->factoryBlockValid());
        // Nothing outside the MAC and the sum changed.
        for (std::size_t i = 0; i < original.size(); ++i) {
            const bool patched = i >= 0xFF00 && i < 0xFF0A;
            if (!patched) {
                ASSERT_EQ(image->bytes()[i], original[i]) << "offset " << i;
            }
        }
    }
    EXPECT_NE(a.sum(), b.sum());
    EXPECT_EQ(a.sum(), BlockChecksum(a.bytes()));
}

// A unit sends from the shared image and its own patched block exactly the
// bytes, and the sum, of a full copy patched with its MAC.
TEST(FirmwareImage, AUnitsViewOfTheSharedImageEqualsItsOwnPatchedCopy) {
    struct Case {
        std::size_t length;
        bool valid;
        const char* where;
    };
    const Case cases[] = {
        {kImageFactoryBlockEnd, true, "image ends with the factory block, in a short last block"},
        {0xFF80, true, "factory block in a short last block, bytes after it"},
        {0x10000, true, "factory block in the last full block"},
        {0x10400 + 17, true, "factory block in a middle block, short last block"},
        {0x40000, true, "factory block early in a long image"},
        {0x10000, false, "factory block not valid: sent as it is"},
        {0x8000, true, "short image without a factory block"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        const auto bytes = MakeImage(c.length, c.valid);
        auto shared = std::make_shared<const FirmwareImage>(bytes);
        UnitImage a(shared, shared->sum());
        UnitImage b(shared, shared->sum());
        FirmwareImage copyA(bytes);
        EXPECT_EQ(a.checkAndPatchFactoryBlock(kUnitA), copyA.checkAndPatchFactoryBlock(kUnitA));
        // Patching again (a restarted transfer) changes nothing.
        EXPECT_EQ(a.checkAndPatchFactoryBlock(kUnitA),
                  c.valid && c.length >= kImageFactoryBlockEnd);
        EXPECT_EQ(b.checkAndPatchFactoryBlock(kUnitB),
                  c.valid && c.length >= kImageFactoryBlockEnd);

        EXPECT_EQ(a.sum(), copyA.sum());
        EXPECT_EQ(a.sum(), BlockChecksum(copyA.bytes()));
        ASSERT_EQ(a.length(), copyA.length());
        std::vector<std::uint8_t> sent;
        for (std::size_t offset = 0; offset < a.length(); offset += kFirmwareBlockSize) {
            const auto block = a.block(offset, std::min(kFirmwareBlockSize, a.length() - offset));
            sent.insert(sent.end(), block.begin(), block.end());
        }
        EXPECT_TRUE(
            std::equal(sent.begin(), sent.end(), copyA.bytes().begin(), copyA.bytes().end()));
        // The other unit's patch stays its own, and the shared image is untouched.
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), shared->bytes().begin()));
        if (c.valid && c.length >= kImageFactoryBlockEnd) {
            EXPECT_NE(a.sum(), b.sum());
        }
    }
}

TEST(FirmwareImage, TheUnitsOfARunShareOneImageUntilTheFileChanges) {
    TempDir dir;
    const auto path = dir.write("fw.bin", MakeImage(4096)).string();
    ImageCache cache;
    ImageFileLock lock;
    const auto first = cache.load(path, lock);
    ASSERT_TRUE(first.image);
    EXPECT_EQ(first.sum, BlockChecksum(first.image->bytes()));
    EXPECT_EQ(cache.load(path, lock).image, first.image);

    dir.write("fw.bin", MakeImage(2048)); // a new file under the same name
    const auto changed = cache.load(path, lock);
    ASSERT_TRUE(changed.image);
    EXPECT_EQ(changed.image->length(), 2048u);
    EXPECT_EQ(first.image->length(), 4096u); // a unit still holding the old one keeps it

    const auto missing = cache.load((dir.path() / "none.bin").string(), lock);
    EXPECT_FALSE(missing.image);
    EXPECT_EQ(missing.error, ImageLoadError::CannotOpen);
    cache.clear();
    EXPECT_NE(cache.load(path, lock).image, changed.image);
}

TEST(FirmwareImage, InvalidFactoryBlockIsLeftUnchanged) {
    const auto original = MakeImage(0x10000, /*validFactoryBlock=*/false);
    FirmwareImage image(original);
    EXPECT_FALSE(image.factoryBlockValid());
    EXPECT_FALSE(image.checkAndPatchFactoryBlock(kUnitA));
    EXPECT_TRUE(std::equal(original.begin(), original.end(), image.bytes().begin()));
}

TEST(FirmwareImage, BootIdentificationWordKeepsTheLowFourBitsOfEachByte) {
    struct Case {
        std::array<std::uint8_t, 4> bytes;
        std::uint16_t version;
        std::uint8_t code;
    };
    const Case cases[] = {
        {{'1', '2', 'x', '3'}, 0x0102, 3},
        {{0x00, 0x00, 0x00, 0x00}, 0x0000, 0},
        {{0xFF, 0xF9, 0xFF, 0xAF}, 0x0F09, 0x0F},
        {{'9', '9', '0', '0'}, 0x0909, 0},
    };
    for (const auto& c : cases) {
        const FirmwareImage image(MakeImage(0xFFE8, true, c.bytes));
        const auto word = image.bootIdentificationWord();
        ASSERT_TRUE(word);
        EXPECT_EQ(BootVersionOf(*word), c.version);
        EXPECT_EQ(CompatibilityCodeOf(*word), c.code);
    }
}

TEST(FirmwareImage, ShortImagesLackTheirTailParts) {
    struct Case {
        std::size_t length;
        bool bootWord;
        bool factoryBlock;
        std::size_t missingParts; // named by the question asked before a run
    };
    const Case cases[] = {
        {1, false, false, 2},
        {0xFF1B, false, false, 2}, // one byte short of the whole factory block
        {0xFF1C, false, true, 1},
        {0xFFE7, false, true, 1}, // one byte short of the boot word
        {0xFFE8, true, true, 0},
        {0x40000, true, true, 0},
    };
    for (const auto& c : cases) {
        FirmwareImage image(MakeImage(c.length));
        EXPECT_EQ(image.bootIdentificationWord().has_value(), c.bootWord) << c.length;
        EXPECT_EQ(image.factoryBlockValid(), c.factoryBlock) << c.length;
        const auto before = std::vector<std::uint8_t>(image.bytes().begin(), image.bytes().end());
        EXPECT_EQ(image.checkAndPatchFactoryBlock(kUnitA), c.factoryBlock) << c.length;
        if (!c.factoryBlock) {
            EXPECT_TRUE(std::equal(before.begin(), before.end(), image.bytes().begin()));
        }
        const auto question = ShortImageQuestion(c.length);
        EXPECT_EQ(question.has_value(), c.missingParts > 0) << c.length;
        if (question) {
            EXPECT_NE(question->find("no boot identification word"), std::string::npos);
            EXPECT_EQ(question->find("no complete factory block") != std::string::npos,
                      c.missingParts == 2)
                << *question;
        }
    }
}

TEST(FirmwareImage, FilesAreJudgedBeforeARun) {
    TempDir dir;
    // Sparse files: the length is what counts, not the bytes.
    auto sized = [&](const std::string& name, std::uintmax_t length) {
        const auto path = dir.write(name, {});
        std::filesystem::resize_file(path, length);
        return path;
    };
    struct Case {
        std::filesystem::path path;
        ImageFileVerdict verdict;
        bool usable; // offered for a run (the Download button)
    };
    const Case cases[] = {
        {sized("3000.bin", 3000), ImageFileVerdict::Short, true},
        {sized("short.bin", kImageBootWordEnd - 1), ImageFileVerdict::Short, true},
        {sized("whole.bin", kImageBootWordEnd), ImageFileVerdict::Usable, true},
        {sized("largest.bin", kMaxImageLength), ImageFileVerdict::Usable, true},
        {sized("70MiB.bin", 70u << 20), ImageFileVerdict::TooLarge, false},
        {sized("empty.bin", 0), ImageFileVerdict::Empty, false},
        {dir.path() / "missing.bin", ImageFileVerdict::CannotOpen, false},
        {dir.path(), ImageFileVerdict::CannotOpen, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CheckImageFile(c.path).verdict, c.verdict) << c.path;
        EXPECT_EQ(IsUsableImageFile(c.path), c.usable) << c.path;
    }
    EXPECT_NE(ImageRefusalText(CheckImageFile(dir.path() / "70MiB.bin")).find("64 MiB"),
              std::string::npos);
}

TEST(FirmwareImage, LoadingAndTheUsableFileTest) {
    TempDir dir;
    const auto bytes = MakeImage(3000);
    const auto good = dir.write("good.bin", bytes);
    const auto empty = dir.write("empty.bin", {});
    const auto missing = dir.path() / "missing.bin";
    ImageFileLock lock;

    EXPECT_TRUE(IsUsableImageFile(good));
    EXPECT_FALSE(IsUsableImageFile(empty));
    EXPECT_FALSE(IsUsableImageFile(missing));
    EXPECT_FALSE(IsUsableImageFile(dir.path()));
    EXPECT_FALSE(IsUsableImageFile(""));

    const auto loaded = LoadFirmwareImage(good, lock);
    ASSERT_TRUE(loaded.image);
    EXPECT_EQ(loaded.image->length(), 3000u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), loaded.image->bytes().begin()));

    EXPECT_EQ(LoadFirmwareImage(empty, lock).error, ImageLoadError::Empty);
    EXPECT_EQ(LoadFirmwareImage(missing, lock).error, ImageLoadError::CannotOpen);
    EXPECT_EQ(LoadFirmwareImage(dir.path(), lock).error, ImageLoadError::CannotOpen);
    // The lock is free again after every outcome.
    EXPECT_TRUE(lock.try_lock());
    lock.unlock();
}

TEST(FirmwareImage, EndOfTransferRecordLayout) {
    const EndOfTransferRecord patched{0x01020304, kHeaderFlagPatched};
    const EndOfTransferRecord unpatched{0xA0B0C0D0, kHeaderFlagUnpatched};
    EXPECT_EQ(patched.encode(), (std::array<std::uint8_t, 8>{1, 2, 3, 4, 0, 0, 0, 0}));
    // The flag's bytes are 00 01 00 00, not 00 00 00 01.
    EXPECT_EQ(unpatched.encode(),
              (std::array<std::uint8_t, 8>{0xA0, 0xB0, 0xC0, 0xD0, 0x00, 0x01, 0x00, 0x00}));
}

TEST(FirmwareImage, UnitKeyIsTheSerialNumberText) {
    EXPECT_EQ(UnitKey(kUnitA), "2801795363");
    EXPECT_EQ(UnitKey(MacAddress{{0x00, 0x11, 0x00, 0x00, 0x00, 0x05}}), "5");
}

TEST(FirmwareImage, EarlyKindByHardwareOrFirmwareVersion) {
    struct Case {
        std::array<std::uint8_t, 4> hardware;
        std::uint8_t firmwareFirst;
        bool early;
    };
    const Case cases[] = {
        {{1, 1, 0, 0}, 2, true},          // hardware 1.1.0.0
        {{1, 1, 0, 1}, 2, false},         // 1.1.0.1
        {{'1', '.', '1', 0}, 0x01, true}, // firmware major 1
        {{'1', '.', '1', 0}, '1', false}, // firmware in text form
        {{2, 0, 0, 0}, 3, false},
    };
    for (const auto& c : cases) {
        DeviceIdentity record;
        std::copy(c.hardware.begin(), c.hardware.end(),
                  record.bytes.begin() + identity_offset::kHardwareVersion);
        record.bytes[identity_offset::kFirmwareVersion] = c.firmwareFirst;
        EXPECT_EQ(IsEarlyKind(record), c.early);
    }
}

} // namespace
} // namespace korvane
