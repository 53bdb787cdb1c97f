#include "link/frame_tap.hpp"

namespace korvane {

namespace {

class TappedPort : public PacketPort {
  public:
    TappedPort(std::unique_ptr<PacketPort> inner, std::string adapter,
               std::shared_ptr<FrameTap> tap)
        : inner_(std::move(inner)), adapter_(std::move(adapter)), tap_(std::move(tap)) {}

    MacAddress mac() const override { return inner_->mac(); }

    bool send(std::span<const std::uint8_t> frame) override {
        tap_->sent(adapter_, frame);
        if (inner_->send(frame))
            return true;
        tap_->sendFailed(adapter_, inner_->lastError());
        return false;
    }

    void start(Receiver receiver, EndHandler ended) override {
        inner_->start(
            [tap = tap_, adapter = adapter_,
             receiver = std::move(receiver)](std::span<const std::uint8_t> frame) {
                tap->received(adapter, frame);
                receiver(frame);
            },
            std::move(ended));
    }

    void stop() override { inner_->stop(); }
    std::string lastError() const override { return inner_->lastError(); }
    std::uint64_t droppedByBackend() const override { return inner_->droppedByBackend(); }
    std::optional<std::chrono::steady_clock::time_point> deliveringFrameSentAt() const override {
        return inner_->deliveringFrameSentAt();
    }
    std::optional<std::chrono::steady_clock::time_point> deliveringFrameArrivedAt() const override {
        return inner_->deliveringFrameArrivedAt();
    }
    bool setBatchEnd(std::function<void()> batchEnd) override {
        return inner_->setBatchEnd(std::move(batchEnd));
    }

  private:
    std::unique_ptr<PacketPort> inner_;
    const std::string adapter_;
    std::shared_ptr<FrameTap> tap_;
};

} // namespace

std::unique_ptr<PacketPort> TapPort(std::unique_ptr<PacketPort> port, std::string adapter,
                                    std::shared_ptr<FrameTap> tap) {
    if (!port || !tap)
        return port;
    return std::make_unique<TappedPort>(std::move(port), std::move(adapter), std::move(tap));
}

TappingDriver::TappingDriver(PacketDriver& inner, std::shared_ptr<FrameTap> tap)
    : inner_(inner), tap_(std::move(tap)) {}

std::vector<AdapterInfo> TappingDriver::listAdapters() {
    return inner_.listAdapters();
}

OpenResult TappingDriver::open(const std::string& name, const OpenOptions& options) {
    OpenResult result = inner_.open(name, options);
    result.port = TapPort(std::move(result.port), name, tap_);
    return result;
}

} // namespace korvane
