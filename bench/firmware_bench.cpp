// Upgrade time of a 1 MiB image for one unit and for eight units at once,
// over the simulated segment with emulated devices, on the documented timing
// (4 ms send pause under the shared send lock, real reply windows). Prints
// both figures beside their floors: 1024 blocks x (send pause + round trip)
// for one unit; for eight, the send pauses alone, which the send lock keeps
// one after another.

#include "base/byte_cursor.hpp"
#include "base/operator.hpp"
#include "firmware/upgrade.hpp"
#include "protocol/frame.hpp"
#include "protocol/transactions.hpp"
#include "sim/device_emulator.hpp"
#include "sim/simulated_lan.hpp"
#include "wire_fields.hpp"

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace {

using namespace korvane;
using Seconds = std::chrono::duration<double>;

constexpr std::size_t kImageLength = 1024 * 1024;
constexpr int kRoundTrips = 200;

const Timing& timing() {
    static const Timing table = Timing::defaults();
    return table;
}

class QuietOperator : public Operator {
  public:
    std::optional<std::string> askPassword(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    Answer ask(const Question& question) override {
        // Yes to every question; a refused block ends the unit.
        return question.buttons == QuestionButtons::AbortRetryIgnore
                   ? Answer::Abort
                   : YesNoAnswer(question.buttons, true);
    }
    void showMessage(const std::string& text, MessageIcon) override {
        std::fprintf(stderr, "firmware_bench: %s\n", text.c_str());
    }
};

std::filesystem::path writeImage() {
    std::vector<std::uint8_t> image(kImageLength);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    // A valid factory block (patched per unit) and the devices' boot version 1.2, code 3.
    const auto block =
        std::span<std::uint8_t>(image).subspan(kImageFactoryBlockOffset, kImageFactoryBlockSize);
    std::fill(block.begin(), block.end(), std::uint8_t{0});
    writeU32(block, 0, BlockChecksum(block));
    const char boot[] = {'1', '2', 'x', '3'};
    std::copy(std::begin(boot), std::end(boot), image.begin() + kImageBootWordOffset);
    const auto path = std::filesystem::temp_directory_path() /
                      ("korvane-firmware-bench-" + std::to_string(::getpid()) + ".bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    return path;
}

struct Result {
    Seconds elapsed{};
    int failures = 0;
    Seconds roundTrip{};
};

Result upgrade(int units, const std::filesystem::path& image) {
    sim::LanOptions options;
    options.devices = units;
    options.programmingDelay = Millis(1);
    sim::SimulatedLan lan(options);
    Context ctx(lan.segment());
    ctx.link.setDiagnosticSink(nullptr);
    ctx.enumerateAdapters();
    ctx.link.open(options.adapterName);

    Result result;
    // A round trip: a password check sent and its reply taken, without the
    // pause a query keeps after its send.
    const MacAddress first = lan.emulator()->device(0).mac();
    const MacAddress own = ctx.link.ownAddress();
    std::array<std::uint8_t, kEthernetMaxPayload> frame{};
    const auto probeStart = SteadyClock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        SendRequest(ctx.link, first, code::kCheckPassword, code::kPasswordReply, "", 0, {}, 0);
        const auto deadline = SteadyClock::now() + timing().queryWindow;
        bool answered = false;
        while (!answered && ctx.link.waitForFrame(deadline)) {
            std::size_t length = 0;
            while (ctx.link.read(frame, length))
                answered = answered || MatchReply({frame.data(), length}, own, first,
                                                  code::kPasswordReply) == ReplyMatch::Reply;
        }
    }
    result.roundTrip = (SteadyClock::now() - probeStart) / kRoundTrips;

    std::vector<DeviceIdentity> records;
    for (int i = 0; i < units; ++i)
        records.push_back(lan.emulator()->device(static_cast<std::size_t>(i)).identity());
    std::vector<DeviceIdentity*> pointers;
    for (auto& record : records)
        pointers.push_back(&record);

    QuietOperator op;
    FirmwareUpgrade session(ctx, op, pointers, UnitPasswordGate(ctx, op));
    const auto start = SteadyClock::now();
    const auto summary = session.downloadAllUnits([&] { return image.string(); });
    result.elapsed = SteadyClock::now() - start;
    result.failures = summary ? summary->failures : units;
    ctx.link.close();
    return result;
}

} // namespace

int main() {
    const auto image = writeImage();
    const double pause = Seconds(timing().commandSendPause).count();
    const double blocks = static_cast<double>(kImageLength / 1024);

    const Result one = upgrade(1, image);
    const double oneFloor = blocks * (pause + one.roundTrip.count());
    std::printf("firmware_bench: 1 MiB image, %0.f blocks of 1024 bytes\n", blocks);
    std::printf("  round trip (0x7001 check)      %8.1f us\n", one.roundTrip.count() * 1e6);
    std::printf("  one unit                       %8.2f s  (floor %.2f s = %0.f x (%.0f ms + "
                "round trip)), %d failed\n",
                one.elapsed.count(), oneFloor, blocks, pause * 1000, one.failures);

    const Result eight = upgrade(8, image);
    const double eightFloor = 8 * blocks * pause;
    std::printf("  eight units                    %8.2f s  (floor %.2f s = 8 x %0.f send pauses "
                "under the send lock), %d failed\n",
                eight.elapsed.count(), eightFloor, blocks, eight.failures);
    std::printf("  eight units, per unit          %8.2f s\n", eight.elapsed.count() / 8);

    std::error_code ec;
    std::filesystem::remove(image, ec);
    return one.failures == 0 && eight.failures == 0 ? 0 : 1;
}
