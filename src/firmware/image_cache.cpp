#include "firmware/image_cache.hpp"

#include <system_error>

namespace korvane {

SharedImageLoad ImageCache::load(const std::string& path, ImageFileLock& fileLock) {
    std::lock_guard lock(mutex_);
    std::error_code sizeError;
    std::error_code timeError;
    const auto size = std::filesystem::file_size(path, sizeError);
    const auto modified = std::filesystem::last_write_time(path, timeError);
    const bool known = !sizeError && !timeError;
    if (known && cached_.image && path == path_ && size == size_ && modified == modified_)
        return cached_;

    cached_ = {};
    ImageLoadResult loaded = LoadFirmwareImage(path, fileLock);
    SharedImageLoad result;
    result.error = loaded.error;
    result.fileLength = loaded.fileLength;
    if (!loaded.image)
        return result; // a failure is not cached: the next unit tries the file again
    auto image = std::make_shared<const FirmwareImage>(std::move(*loaded.image));
    result.sum = image->sum();
    result.image = std::move(image);
    if (known) {
        path_ = path;
        size_ = size;
        modified_ = modified;
        cached_ = result;
    }
    return result;
}

void ImageCache::clear() {
    std::lock_guard lock(mutex_);
    cached_ = {};
}

} // namespace korvane
