#include "sim/device_emulator.hpp"

#include "base/byte_cursor.hpp"
#include "protocol/arp.hpp"
#include "sim/arp_responder.hpp"

#include <algorithm>

namespace korvane::sim {

MacAddress MacPlus(const MacAddress& base, std::uint64_t n) {
    std::uint64_t value = 0;
    for (const auto b : base.bytes)
        value = (value << 8) | b;
    value += n;
    MacAddress mac;
    for (std::size_t i = 0; i < mac.bytes.size(); ++i)
        mac.bytes[i] = static_cast<std::uint8_t>(value >> (8 * (5 - i)));
    return mac;
}

DeviceEmulator::DeviceEmulator(std::unique_ptr<PacketPort> port) : port_(std::move(port)) {}

DeviceEmulator::~DeviceEmulator() {
    stop();
}

EmulatedDevice& DeviceEmulator::addDevice(DeviceConfig config) {
    const MacAddress mac = config.mac;
    auto device = std::make_unique<EmulatedDevice>(std::move(config));
    std::unique_lock lock(devicesMutex_);
    devices_.push_back(std::move(device));
    byMac_.emplace(mac, devices_.size() - 1);
    return *devices_.back();
}

void DeviceEmulator::start() {
    std::lock_guard control(controlMutex_);
    if (running_ || !port_)
        return;
    {
        std::lock_guard lock(timerMutex_);
        timerQuit_ = false;
    }
    timer_ = std::thread([this] { runTimer(); });
    startPort();
    running_ = true;
}

void DeviceEmulator::setPortEndHandler(PacketPort::EndHandler handler) {
    std::lock_guard control(controlMutex_);
    portEnded_ = std::move(handler);
}

void DeviceEmulator::startPort() {
    port_->start([this](std::span<const std::uint8_t> frame) { onFrame(frame); },
                 [this](const std::string& reason) {
                     if (portEnded_)
                         portEnded_(reason);
                 });
}

void DeviceEmulator::replacePort(std::unique_ptr<PacketPort> port) {
    if (!port)
        return;
    std::lock_guard control(controlMutex_);
    if (running_ && port_)
        port_->stop(); // its receive thread is gone after this
    {
        std::unique_lock lock(portMutex_);
        port_ = std::move(port);
    }
    if (running_)
        startPort();
}

void DeviceEmulator::stop() {
    std::lock_guard control(controlMutex_);
    if (!running_)
        return;
    port_->stop(); // the receiver is not called again after this
    {
        std::lock_guard lock(timerMutex_);
        timerQuit_ = true;
        timed_.clear();
    }
    timerCv_.notify_all();
    timer_.join();
    running_ = false;
}

MacAddress DeviceEmulator::portMac() const {
    std::shared_lock lock(portMutex_);
    return port_ ? port_->mac() : MacAddress{};
}

std::size_t DeviceEmulator::deviceCount() const {
    std::shared_lock lock(devicesMutex_);
    return devices_.size();
}

EmulatedDevice& DeviceEmulator::device(std::size_t index) {
    std::shared_lock lock(devicesMutex_);
    return *devices_.at(index);
}

EmulatedDevice* DeviceEmulator::findDevice(const MacAddress& mac) {
    std::shared_lock lock(devicesMutex_);
    const auto it = byMac_.find(mac);
    return it == byMac_.end() ? nullptr : devices_[it->second].get();
}

EmulatorCounters DeviceEmulator::counters() const {
    std::lock_guard lock(countersMutex_);
    return counters_;
}

std::size_t DeviceEmulator::pendingFrames() const {
    std::lock_guard lock(timerMutex_);
    return timed_.size();
}

void DeviceEmulator::onFrame(std::span<const std::uint8_t> frame) {
    // The devices see a frame when it reached their wire, which is what the
    // gaps between commands are measured from.
    // (The receive thread that calls this is the current port's own, which
    // is stopped before the port is replaced.)
    const auto now = port_->deliveringFrameSentAt().value_or(SteadyClock::now());
    {
        std::lock_guard lock(countersMutex_);
        ++counters_.framesReceived;
    }
    const auto head = fixedHead<6>(frame);
    if (!head)
        return;
    if (ByteReader(frame, kEtherTypeOffset).u16() == kArpEtherType) {
        answerArp(frame);
        return;
    }
    const MacAddress destination = MacAddress::fromBytes(*head);

    // Devices are never removed, so the pointers stay valid outside the lock.
    std::vector<std::pair<EmulatedDevice*, std::size_t>> targets;
    {
        std::shared_lock lock(devicesMutex_);
        if (destination.isBroadcast()) {
            targets.reserve(devices_.size());
            for (std::size_t i = 0; i < devices_.size(); ++i)
                targets.emplace_back(devices_[i].get(), i);
        } else {
            const auto [first, last] = byMac_.equal_range(destination);
            for (auto it = first; it != last; ++it)
                targets.emplace_back(devices_[it->second].get(), it->second);
        }
    }
    if (targets.empty())
        return;
    {
        std::lock_guard lock(countersMutex_);
        ++counters_.framesForDevices;
    }

    for (const auto& [device, index] : targets) {
        auto out = device->receive(frame, now);
        // A factory write gives the device a new MAC; frames to it must reach
        // the device by the time its reply (from the old MAC) is out.
        if (!destination.isBroadcast() && device->mac() != destination) {
            std::unique_lock lock(devicesMutex_);
            const auto [first, last] = byMac_.equal_range(destination);
            for (auto it = first; it != last; ++it)
                if (it->second == index) {
                    byMac_.erase(it);
                    break;
                }
            byMac_.emplace(device->mac(), index);
        }
        dispatch(std::move(out), now);
    }
}

void DeviceEmulator::answerArp(std::span<const std::uint8_t> frame) {
    std::vector<std::vector<std::uint8_t>> replies;
    {
        std::shared_lock lock(devicesMutex_);
        for (const auto& device : devices_) {
            if (device->faults().neverAnswer)
                continue;
            const std::uint32_t address = device->settings().lanAddress();
            if (address == 0)
                continue;
            auto reply = BuildArpReply(frame, device->mac(), address);
            if (!reply.empty())
                replies.push_back(std::move(reply));
        }
    }
    for (const auto& reply : replies)
        send(reply);
    std::lock_guard lock(countersMutex_);
    counters_.arpReplies += replies.size();
}

void DeviceEmulator::dispatch(std::vector<Outgoing> frames, SteadyClock::time_point now) {
    bool posted = false;
    for (auto& item : frames) {
        if (item.delay <= Micros::zero()) {
            send(item.frame);
            continue;
        }
        std::lock_guard lock(timerMutex_);
        if (timerQuit_)
            continue;
        timed_.emplace(now + item.delay, std::move(item.frame));
        posted = true;
    }
    if (posted)
        timerCv_.notify_all();
}

void DeviceEmulator::send(std::span<const std::uint8_t> frame) {
    bool sent = false;
    {
        std::shared_lock lock(portMutex_);
        sent = port_->send(frame);
    }
    std::lock_guard lock(countersMutex_);
    ++(sent ? counters_.framesSent : counters_.sendFailures);
}

void DeviceEmulator::runTimer() {
    std::unique_lock lock(timerMutex_);
    for (;;) {
        if (timerQuit_)
            return;
        if (timed_.empty()) {
            timerCv_.wait(lock);
            continue;
        }
        const auto first = timed_.begin();
        // A copy: stop() may clear the map while this thread waits.
        const auto due = first->first;
        if (SteadyClock::now() < due) {
            timerCv_.wait_until(lock, due);
            continue;
        }
        std::vector<std::uint8_t> frame = std::move(first->second);
        timed_.erase(first);
        lock.unlock();
        send(frame);
        {
            std::lock_guard counted(countersMutex_);
            ++counters_.framesDelayed;
        }
        lock.lock();
    }
}

} // namespace korvane::sim
