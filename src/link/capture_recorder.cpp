#include "link/capture_recorder.hpp"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace korvane {

namespace {

// Sizes of libpcap's dump format: one file header, then a record header
// before each frame.
constexpr std::uint64_t kFileHeaderBytes = 24;
constexpr std::uint64_t kRecordHeaderBytes = 16;
// Frames are recorded whole; nothing on this link comes near it.
constexpr int kSnapLength = 65535;

// The few places of the protocol's frame that can carry a password. The link
// sits below the protocol's codecs, so it names them here.
constexpr std::size_t kEtherTypeOffset = 12;
constexpr std::size_t kCodeOffset = 16;
constexpr std::size_t kPasswordOffset = 22;
constexpr std::size_t kPasswordWidth = 16;
constexpr std::size_t kDataOffset = 40;
constexpr std::uint16_t kProtocolEtherType = 0x5152;
constexpr std::uint16_t kSetPasswordCode = 0x7002;
constexpr std::size_t kNewPasswordOffset = kDataOffset + 4; // after the block's checksum
constexpr std::size_t kNewPasswordWidth = 20;

std::uint16_t u16At(std::span<const std::uint8_t> frame, std::size_t offset) {
    return static_cast<std::uint16_t>(frame[offset] << 8 | frame[offset + 1]);
}

void maskField(std::span<std::uint8_t> frame, std::size_t offset, std::size_t width) {
    if (frame.size() < offset + width)
        return;
    const auto field = frame.subspan(offset, width);
    if (std::any_of(field.begin(), field.end(), [](std::uint8_t b) { return b != 0; }))
        std::fill(field.begin(), field.end(), std::uint8_t{0xFF});
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
    if (frame.size() < kCodeOffset + 2 || u16At(frame, kEtherTypeOffset) != kProtocolEtherType)
        return;
    maskField(frame, kPasswordOffset, kPasswordWidth);
    if (u16At(frame, kCodeOffset) == kSetPasswordCode)
        maskField(frame, kNewPasswordOffset, kNewPasswordWidth);
}

struct CaptureFile::Handles {
    pcap_t* dead = nullptr;
    pcap_dumper_t* dumper = nullptr;
    ~Handles() {
        if (dumper != nullptr)
            pcap_dump_close(dumper);
        if (dead != nullptr)
            pcap_close(dead);
    }
};

std::unique_ptr<CaptureFile> CaptureFile::create(const std::string& path, std::string& error,
                                                 std::uint64_t limitBytes) {
    if (path.empty()) {
        error = "no file name given";
        return nullptr;
    }
    auto handles = std::make_unique<Handles>();
    handles->dead = pcap_open_dead(DLT_EN10MB, kSnapLength);
    if (handles->dead == nullptr) {
        error = "cannot set up the capture format";
        return nullptr;
    }
    handles->dumper = pcap_dump_open(handles->dead, path.c_str());
    if (handles->dumper == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (pcap_dump_flush(handles->dumper) != 0) {
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
            pcap_pkthdr header{};
            header.ts.tv_sec = static_cast<time_t>(micros / 1000000);
            header.ts.tv_usec = static_cast<suseconds_t>(micros % 1000000);
            header.caplen = static_cast<bpf_u_int32>(copy.size());
            header.len = header.caplen;
            pcap_dump(reinterpret_cast<u_char*>(handles_->dumper), &header, copy.data());
            // Flushed frame by frame: the file is complete up to the last
            // frame even when the program is killed, and can be followed
            // while it grows.
            if (pcap_dump_flush(handles_->dumper) == 0) {
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
