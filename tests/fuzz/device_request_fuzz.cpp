// What an emulated device receives: the request parser and the device's
// state machine over a sequence of frames.
//
// Input: one configuration byte, then records of [flags][length, 2 bytes
// big-endian][frame]. Flags ask for fix-ups that let the fuzzer get past the
// checks it cannot guess: bit 0 sets the destination, EtherType and version;
// bit 1 the data-length field and a zero tail; bit 2 the checksum of the
// block the command carries.

#include "base/byte_cursor.hpp"
#include "sim/emulated_device.hpp"
#include "wire_fields.hpp"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using namespace korvane;
using namespace std::chrono_literals;

const MacAddress kDevice{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};

sim::DeviceFaults Faults(std::uint8_t preset) {
    sim::DeviceFaults f;
    switch (preset & 3) {
    case 1:
        f.answerTwice = true;
        f.replyDelay = 5ms;
        break;
    case 2:
        f.statusRules = {sim::StatusRule::busyFirstBlock(),
                         {code::kWriteFactory, {}, status::kBusy, 1}};
        f.rebootAtBlock = 1;
        f.rebootTime = 250ms;
        break;
    case 3:
        f.dropRate = 0.5;
        break;
    default:
        break;
    }
    return f;
}

void FixUp(std::vector<std::uint8_t>& frame, std::uint8_t flags) {
    if ((flags & 1) && frame.size() >= 16) {
        std::copy(kDevice.bytes.begin(), kDevice.bytes.end(), frame.begin());
        frame[12] = 0x51, frame[13] = 0x52, frame[14] = 0, frame[15] = 1;
    }
    if ((flags & 2) && frame.size() >= 42) {
        writeU16(frame, 38, static_cast<std::uint16_t>(frame.size() - 42));
        frame[frame.size() - 2] = 0;
        frame[frame.size() - 1] = 0;
    }
    if ((flags & 4) && frame.size() >= 42 + 8) {
        const std::uint16_t command = readU16(frame, 16);
        const std::span<std::uint8_t> block(frame.data() + 40, frame.size() - 42);
        if (command == code::kWriteSettings) {
            writeU32(block, 0, 0x21472174);
            writeU32(block, 4, BlockChecksum(block.subspan(8)));
        } else if (command == code::kSetPassword || command == code::kWriteFactory) {
            writeU32(block, 0, 0);
            writeU32(block, 0, BlockChecksum(block));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::span<const std::uint8_t> input(data, size);

    sim::ViolationCounts found{};
    const auto whole = sim::ParseDeviceRequest(input.subspan(1), found);
    if (whole && whole->data.size() > 1024)
        __builtin_trap();

    auto config = sim::DefaultDeviceConfig(0, kDevice);
    config.password = (data[0] & 0x80) ? "pw" : "";
    config.programmingDelay = 100ms;
    config.faults = Faults(data[0]);
    sim::EmulatedDevice device(std::move(config));

    const auto start = SteadyClock::time_point{} + 1h;
    ByteReader in(input, 1);
    for (int step = 0; in.remaining() >= 3 && step < 256; ++step) {
        const std::uint8_t flags = *in.u8();
        const std::size_t length = std::min<std::size_t>(*in.u16(), in.remaining());
        const auto bytes = *in.bytes(std::min<std::size_t>(length, 1600));
        std::vector<std::uint8_t> frame(bytes.begin(), bytes.end());
        FixUp(frame, flags);
        const auto out = device.receive(frame, start + step * 100ms);
        for (const auto& item : out) {
            const auto head = ParseHeader(item.frame);
            if (!head || item.frame.size() < kEthernetMinFrame ||
                item.frame.size() > kFrameHead + kIdentitySize + kFrameTail ||
                item.delay < Micros::zero())
                __builtin_trap();
        }
    }
    const auto stats = device.stats();
    const auto firmware = device.firmware();
    if (firmware.receivingBytes > std::size_t{65536} * 1024 || stats.replies > 2 * 256)
        __builtin_trap();
    return 0;
}
