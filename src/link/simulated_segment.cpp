#include "link/simulated_segment.hpp"

#include "base/byte_cursor.hpp"

#include <algorithm>
#include <atomic>

namespace korvane {

struct SimulatedSegment::Attachment {
    std::string id; // ports of the same adapter share it and never hear each other
    MacAddress mac;
    OpenOptions options;
    std::mutex deliveryMutex; // held while the receiver runs; stop() takes it
    PacketPort::Receiver receiver;
    PacketPort::EndHandler ended;
    bool active = false;
    // The receive side ended by itself: the port stays dead. Atomic because a
    // station sends from inside its own receiver, under deliveryMutex.
    std::atomic<bool> failed{false};
    std::string failReason; // under deliveryMutex, once failed
    // Held while the end handler runs, outside deliveryMutex: stop() waits
    // for it, so that the handler's owner may go once stop() returns.
    std::mutex endMutex;
    bool closed = false;
};

class SimulatedPort : public PacketPort {
  public:
    SimulatedPort(SimulatedSegment& segment, std::shared_ptr<SimulatedSegment::Attachment> state)
        : segment_(segment), state_(std::move(state)) {}
    ~SimulatedPort() override {
        stop();
        std::lock_guard lock(state_->deliveryMutex);
        state_->closed = true;
    }

    MacAddress mac() const override { return state_->mac; }
    bool send(std::span<const std::uint8_t> frame) override {
        if (frame.empty())
            return false;
        if (state_->failed.load())
            return false;
        segment_.enqueue(state_, frame);
        return true;
    }
    std::optional<std::chrono::steady_clock::time_point> deliveringFrameSentAt() const override {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(segment_.deliveringSentAt_.load()));
    }
    void start(Receiver receiver, EndHandler ended) override {
        std::string reason;
        std::unique_lock<std::mutex> ending;
        {
            std::lock_guard lock(state_->deliveryMutex);
            if (!state_->failed) {
                state_->receiver = std::move(receiver);
                state_->ended = std::move(ended);
                state_->active = true;
                return;
            }
            reason = state_->failReason;
            ending = std::unique_lock(state_->endMutex);
        }
        // The adapter failed between open and start: a real port's receive
        // thread would meet the error at once, so this one tells it too.
        if (ended)
            ended(reason);
    }
    void stop() override {
        {
            std::lock_guard lock(state_->deliveryMutex);
            state_->active = false;
            state_->receiver = nullptr;
            state_->ended = nullptr;
        }
        // An end handler already on its way finishes before stop() returns.
        std::lock_guard ending(state_->endMutex);
    }

  private:
    SimulatedSegment& segment_;
    std::shared_ptr<SimulatedSegment::Attachment> state_;
};

SimulatedSegment::SimulatedSegment() : thread_([this] { run(); }) {}

SimulatedSegment::~SimulatedSegment() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void SimulatedSegment::addAdapter(const std::string& name, const std::string& description,
                                  MacAddress mac) {
    std::lock_guard lock(mutex_);
    adapters_.push_back({name, description, mac, {}});
}

void SimulatedSegment::removeAdapter(const std::string& name) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(adapters_, [&](const AdapterInfo& a) { return a.name == name; });
    }
    failAdapter(name, "No such device");
}

void SimulatedSegment::failAdapter(const std::string& name, const std::string& reason) {
    std::vector<std::shared_ptr<Attachment>> ports;
    {
        std::lock_guard lock(mutex_);
        for (const auto& weak : attachments_)
            if (auto port = weak.lock(); port && port->id == "adapter:" + name)
                ports.push_back(std::move(port));
    }
    for (const auto& port : ports) {
        PacketPort::EndHandler ended;
        std::unique_lock<std::mutex> ending;
        {
            // Taken as the hub takes it to deliver: once this returns, the
            // port's receiver is not called again.
            std::lock_guard delivery(port->deliveryMutex);
            if (port->failed.exchange(true))
                continue;
            port->failReason = reason;
            if (port->active)
                ended = std::move(port->ended);
            port->active = false;
            port->receiver = nullptr;
            port->ended = nullptr;
            if (ended)
                ending = std::unique_lock(port->endMutex); // before a stop() can pass
        }
        if (ended)
            ended(reason); // as a real port tells it, outside its delivery lock
    }
}

void SimulatedSegment::denyAccess(const std::string& name) {
    std::lock_guard lock(mutex_);
    denied_.push_back(name);
}

void SimulatedSegment::setAdapterDown(const std::string& name, bool down) {
    {
        std::lock_guard lock(mutex_);
        std::erase(down_, name);
        if (down)
            down_.push_back(name);
    }
    if (down)
        failAdapter(name, "The interface went down");
}

std::vector<AdapterInfo> SimulatedSegment::listAdapters() {
    std::lock_guard lock(mutex_);
    return adapters_;
}

OpenResult SimulatedSegment::open(const std::string& name, const OpenOptions& options) {
    MacAddress mac;
    {
        std::lock_guard lock(mutex_);
        if (std::find(denied_.begin(), denied_.end(), name) != denied_.end())
            return {nullptr, OpenFailure::PermissionDenied, "Operation not permitted"};
        if (std::find(down_.begin(), down_.end(), name) != down_.end())
            return {nullptr, OpenFailure::NoLink, "the adapter is down"};
        auto it = std::find_if(adapters_.begin(), adapters_.end(),
                               [&](const AdapterInfo& a) { return a.name == name; });
        if (it == adapters_.end())
            return {nullptr, OpenFailure::NoSuchAdapter, "No such device"};
        mac = it->mac;
    }
    return {attach("adapter:" + name, mac, options), OpenFailure::None, {}};
}

std::unique_ptr<PacketPort> SimulatedSegment::attachStation(MacAddress mac, OpenOptions options) {
    std::string id;
    {
        std::lock_guard lock(mutex_);
        id = "station:" + std::to_string(nextStationId_++);
    }
    return attach(id, mac, std::move(options));
}

std::unique_ptr<PacketPort> SimulatedSegment::attach(const std::string& attachmentId,
                                                     MacAddress mac, OpenOptions options) {
    auto state = std::make_shared<Attachment>();
    state->id = attachmentId;
    state->mac = mac;
    state->options = std::move(options);
    {
        std::lock_guard lock(mutex_);
        std::erase_if(attachments_, [](const auto& weak) { return weak.expired(); });
        attachments_.push_back(state);
    }
    return std::make_unique<SimulatedPort>(*this, state);
}

void SimulatedSegment::setFrameHook(FrameHook hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

std::uint64_t SimulatedSegment::framesCarried() const {
    std::lock_guard lock(mutex_);
    return carried_;
}

void SimulatedSegment::drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return pending_.empty() && !delivering_; });
}

void SimulatedSegment::enqueue(const std::shared_ptr<Attachment>& sender,
                               std::span<const std::uint8_t> frame) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back({sender, std::vector<std::uint8_t>(frame.begin(), frame.end()),
                            std::chrono::steady_clock::now()});
    }
    cv_.notify_one();
}

void SimulatedSegment::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [&] { return quit_ || !pending_.empty(); });
        if (quit_)
            return;
        Pending frame = std::move(pending_.front());
        pending_.pop_front();
        delivering_ = true;
        FrameHook hook = hook_;
        std::vector<std::shared_ptr<Attachment>> targets;
        for (const auto& weak : attachments_)
            if (auto target = weak.lock())
                targets.push_back(std::move(target));
        lock.unlock();

        const std::span<const std::uint8_t> bytes(frame.bytes);
        deliveringSentAt_.store(frame.sentAt.time_since_epoch().count());
        if (!hook || hook(bytes)) {
            const auto head = fixedHead<6>(bytes);
            const MacAddress destination = head ? MacAddress::fromBytes(*head) : MacAddress{};
            for (const auto& target : targets) {
                if (target->id == frame.sender->id)
                    continue;
                if (!target->options.promiscuous && destination != target->mac &&
                    !destination.isMulticast())
                    continue;
                std::lock_guard delivery(target->deliveryMutex);
                if (!target->active || !target->receiver)
                    continue;
                std::span<const std::uint8_t> accepted = bytes;
                if (!target->options.filter.empty()) {
                    const std::uint32_t keep = runBpf(target->options.filter, bytes);
                    if (keep == 0)
                        continue;
                    accepted = bytes.first(std::min<std::size_t>(keep, bytes.size()));
                }
                target->receiver(accepted);
            }
        }

        lock.lock();
        ++carried_;
        delivering_ = false;
        if (pending_.empty())
            idle_.notify_all();
    }
}

} // namespace korvane
