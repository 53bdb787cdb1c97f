#pragma once

// The image of a firmware run, read once and shared by its units. A unit
// reads the image path as it starts, so a path (or file) changed during a run
// still reaches the later units: the cached image is reused only while the
// path, the file's size and its modification time stay the same.

#include "firmware/firmware_image.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace korvane {

struct SharedImageLoad {
    std::shared_ptr<const FirmwareImage> image; // null when it could not be read
    std::uint32_t sum = 0;                      // image->sum(), taken once
    ImageLoadError error = ImageLoadError::None;
    std::uint64_t fileLength = 0; // as LoadFirmwareImage tells it
};

class ImageCache {
  public:
    // The image at `path`: the cached one while the file is unchanged,
    // otherwise read (holding `fileLock`, as LoadFirmwareImage does) and
    // cached in place of the previous one. Units that start together wait
    // for one read instead of reading the file each.
    SharedImageLoad load(const std::string& path, ImageFileLock& fileLock);
    // Drops the cached image; units still holding it keep it until they end.
    void clear();

  private:
    std::mutex mutex_;
    std::string path_;
    std::uint64_t size_ = 0;
    std::filesystem::file_time_type modified_{};
    SharedImageLoad cached_;
};

} // namespace korvane
