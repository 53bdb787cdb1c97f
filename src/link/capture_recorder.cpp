#include "link/capture_recorder.hpp"

#include "base/byte_cursor.hpp"
#include "base/platform.hpp"
#include "link/ethernet.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace korvane {

namespace {

// The classic pcap file format, written here so that no dump functions of
// the capture library are needed: one file header, then a record header
// before each frame, all in the writer's own byte order (the magic number
// tells readers which).
constexpr std::uint64_t kFileHeaderBytes = 24;
constexpr std::uint64_t kRecordHeaderBytes = 16;
constexpr std::uint32_t kPcapMagicMicros = 0xA1B2C3D4;
constexpr std::uint16_t kPcapVersionMajor = 2;
constexpr std::uint16_t kPcapVersionMinor = 4;
constexpr std::uint32_t kLinkTypeEthernet = 1;
// Frames are recorded whole; nothing on this link comes near it.
constexpr std::uint32_t kSnapLength = 65535;

// The few places of the protocol's frame that can carry a password. The link
// sits below the protocol's codecs, so it names them here.
constexpr std::size_t kPasswordOffset = 22;
constexpr std::size_t kPasswordWidth = 16;
constexpr std::size_t kDataOffset = 40;
constexpr std::uint16_t kSetPasswordCode = 0x7002;
constexpr std::size_t kPasswordBlockChecksumOffset = kDataOffset;
constexpr std::size_t kPasswordBlockChecksumWidth = 4;
constexpr std::size_t kNewPasswordOffset = kDataOffset + 4; // after the block's checksum
constexpr std::size_t kNewPasswordWidth = 20;

// Overwrites the field with 0xFF bytes when it holds anything; true when it did.
bool maskField(std::span<std::uint8_t> frame, std::size_t offset, std::size_t width) {
    if (frame.size() < offset + width)
        return false;
    const auto field = frame.subspan(offset, width);
    if (std::none_of(field.begin(), field.end(), [](std::uint8_t b) { return b != 0; }))
        return false;
    std::fill(field.begin(), field.end(), std::uint8_t{0xFF});
    return true;
}

template <typename T>
void append(std::vector<std::uint8_t>& out, T value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    return platform::WriteAll(fd, bytes.data(), bytes.size());
}

void printToStderr(const std::string& line) {
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

std::string sizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    if (bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// Every frame of the ports, whichever way it goes, into the file.
class CaptureTap : public FrameTap {
  public:
    explicit CaptureTap(std::shared_ptr<CaptureFile> capture) : capture_(std::move(capture)) {}
    void sent(const std::string&, std::span<const std::uint8_t> frame) override {
        capture_->record(frame);
    }
    void received(const std::string&, std::span<const std::uint8_t> frame) override {
        capture_->record(frame);
    }

  private:
    std::shared_ptr<CaptureFile> capture_;
};

} // namespace

void MaskPasswords(std::span<std::uint8_t> frame) {
    if (ByteReader(frame, kEtherTypeOffset).u16() != kProtocolEtherType)
        return;
    maskField(frame, kPasswordOffset, kPasswordWidth);
    // The password block's checksum is the byte sum of the new password: it
    // goes with the password, or a short password could be found from it.
    if (ByteReader(frame, kProtocolCodeOffset).u16() == kSetPasswordCode &&
        maskField(frame, kNewPasswordOffset, kNewPasswordWidth))
        std::fill_n(frame.begin() + kPasswordBlockChecksumOffset, kPasswordBlockChecksumWidth,
                    std::uint8_t{0xFF});
}

struct CaptureFile::Handles {
    int fd = -1;
    ~Handles() {
        if (fd >= 0)
            platform::CloseFile(fd);
    }
};

std::unique_ptr<CaptureFile> CaptureFile::create(const std::string& path, std::string& error,
                                                 std::uint64_t limitBytes) {
    if (path.empty()) {
        error = "no file name given";
        return nullptr;
    }
    auto handles = std::make_unique<Handles>();
    // Readable by its owner alone: a recording holds the identities and
    // settings of every device it saw.
    handles->fd = platform::OpenPrivateFile(path);
    std::vector<std::uint8_t> header;
    append(header, kPcapMagicMicros);
    append(header, kPcapVersionMajor);
    append(header, kPcapVersionMinor);
    append(header, std::int32_t{0});  // time zone: UTC
    append(header, std::uint32_t{0}); // accuracy of the stamps
    append(header, kSnapLength);
    append(header, kLinkTypeEthernet);
    if (handles->fd < 0 || !writeAll(handles->fd, header)) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<CaptureFile>(new CaptureFile(path, limitBytes, std::move(handles)));
}

CaptureFile::CaptureFile(std::string path, std::uint64_t limitBytes,
                         std::unique_ptr<Handles> handles)
    : path_(std::move(path)), limitBytes_(limitBytes), handles_(std::move(handles)),
      bytes_(kFileHeaderBytes), sink_(printToStderr) {}

CaptureFile::~CaptureFile() = default;

void CaptureFile::record(std::span<const std::uint8_t> frame) {
    // The time of day, not the steady clock: a capture's timestamps are read
    // against other captures and logs of the same session.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();

    std::vector<std::uint8_t> copy(frame.begin(), frame.end());
    MaskPasswords(copy);

    std::string message;
    MessageSink sink;
    {
        std::lock_guard lock(mutex_);
        if (!handles_)
            return;
        const std::uint64_t recordBytes = kRecordHeaderBytes + frame.size();
        if (bytes_ + recordBytes > limitBytes_) {
            message = "the recording " + path_ + " reached its size limit of " +
                      sizeText(limitBytes_) + " and stopped; later frames are not in it\n";
        } else {
            std::vector<std::uint8_t> out;
            out.reserve(recordBytes);
            append(out, static_cast<std::uint32_t>(micros / 1000000));
            append(out, static_cast<std::uint32_t>(micros % 1000000));
            append(out, static_cast<std::uint32_t>(copy.size()));
            append(out, static_cast<std::uint32_t>(copy.size()));
            out.insert(out.end(), copy.begin(), copy.end());
            // Written frame by frame, unbuffered: the file is complete up to
            // the last frame even when the program is killed, and can be
            // followed while it grows.
            if (writeAll(handles_->fd, out)) {
                bytes_ += recordBytes;
                ++frames_;
                return;
            }
            message = "cannot write the recording " + path_ + " (" + std::strerror(errno) +
                      "); it stopped, later frames are not in it\n";
        }
        handles_.reset(); // closes the file with everything written so far
        sink = sink_;
    }
    if (sink)
        sink(message);
}

void CaptureFile::setMessageSink(MessageSink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

bool CaptureFile::stopped() const {
    std::lock_guard lock(mutex_);
    return !handles_;
}

std::uint64_t CaptureFile::framesWritten() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::uint64_t CaptureFile::bytesWritten() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::shared_ptr<FrameTap> CaptureFile::tap(std::shared_ptr<CaptureFile> capture) {
    if (!capture)
        return nullptr;
    return std::make_shared<CaptureTap>(std::move(capture));
}

std::unique_ptr<PacketPort> RecordPort(std::unique_ptr<PacketPort> port,
                                       std::shared_ptr<CaptureFile> capture) {
    return TapPort(std::move(port), {}, CaptureFile::tap(std::move(capture)));
}

RecordingDriver::RecordingDriver(PacketDriver& inner, std::shared_ptr<CaptureFile> capture)
    : TappingDriver(inner, CaptureFile::tap(std::move(capture))) {}

} // namespace korvane
