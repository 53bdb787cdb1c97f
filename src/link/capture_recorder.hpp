#pragma once

// Session recording: every frame a program sends and receives on its
// adapters, written to a file in the pcap format with the Ethernet
// link type, so that a session can be sent to whoever supports the devices
// and opened in Wireshark or tshark. The recording sits at the link seam: a
// PacketDriver that wraps another one, or a single wrapped PacketPort, so it
// records the same on real adapters and on the simulated segment.

#include "link/frame_tap.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace korvane {

// A recording is bounded so that a forgotten --capture on a long-running
// program (the emulator, a desktop program left open over a weekend) cannot
// fill the disk: past the limit it stops and says so once; the program goes on.
inline constexpr std::uint64_t kDefaultCaptureLimit = 256ull * 1024 * 1024;

// Passwords never reach a recording. In a frame of the device protocol, a
// non-empty password field of the head and the new password of a
// set-password block are overwritten with 0xFF bytes, and with the new
// password the block's checksum, which is its byte sum. A genuine field
// always ends in a zero byte (its text is zero-terminated), so a field of
// 0xFF bytes can only mean "masked": the dissector says so instead of
// checking the masked checksum. The file itself is created mode 0600.
void MaskPasswords(std::span<std::uint8_t> frame);

class CaptureFile {
  public:
    using MessageSink = std::function<void(const std::string& line)>;

    // Creates (or truncates) `path` and writes the file header. Null, with
    // `error` saying why, when the file cannot be written. `limitBytes` bounds
    // the whole file, header included.
    static std::unique_ptr<CaptureFile> create(const std::string& path, std::string& error,
                                               std::uint64_t limitBytes = kDefaultCaptureLimit);
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Appends one frame, its passwords masked, stamped with the current time.
    // Safe from any thread.
    // A frame that would take the file past its limit is not written: the
    // recording ends there and the message sink is told once. A write error
    // ends it the same way.
    void record(std::span<const std::uint8_t> frame);

    // The tap that records a port's frames here; null for a null capture.
    static std::shared_ptr<FrameTap> tap(std::shared_ptr<CaptureFile> capture);

    // Where the one closing message goes (default: a line on standard error).
    void setMessageSink(MessageSink sink);

    const std::string& path() const { return path_; }
    bool stopped() const;
    std::uint64_t framesWritten() const;
    std::uint64_t bytesWritten() const; // the file's size so far

    struct Handles; // the open file

  private:
    CaptureFile(std::string path, std::uint64_t limitBytes, std::unique_ptr<Handles> handles);

    const std::string path_;
    const std::uint64_t limitBytes_;
    mutable std::mutex mutex_;
    std::unique_ptr<Handles> handles_; // null once stopped
    std::uint64_t frames_ = 0;
    std::uint64_t bytes_ = 0;
    MessageSink sink_;
};

// Wraps an opened port: what it sends and what it delivers is recorded too.
std::unique_ptr<PacketPort> RecordPort(std::unique_ptr<PacketPort> port,
                                       std::shared_ptr<CaptureFile> capture);

// A driver whose opened ports are recorded ports of the wrapped driver's.
class RecordingDriver : public TappingDriver {
  public:
    RecordingDriver(PacketDriver& inner, std::shared_ptr<CaptureFile> capture);
};

} // namespace korvane
