#pragma once

// Any number of emulated devices behind one packet port: a station on a
// simulated segment, or a real interface opened promiscuously. Frames to a
// device's MAC reach that device, broadcasts reach every device; each device
// answers as its own MAC. Like a real device, each also answers ARP requests
// for the address its settings hold, so the address-conflict question of a
// settings write sees the other devices (the port's filter must let ARP in:
// ProtocolAndArpFilterProgram). Replies that a device delays, and its completion
// notices, go out from the emulator's timer thread, so the receive thread
// never sleeps.

#include "link/packet_driver.hpp"
#include "sim/emulated_device.hpp"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <span>
#include <thread>
#include <vector>

namespace korvane::sim {

// The MAC `n` addresses after `base`, counting over all six bytes.
MacAddress MacPlus(const MacAddress& base, std::uint64_t n);

struct EmulatorCounters {
    std::uint64_t framesReceived = 0;   // everything the port delivered
    std::uint64_t framesForDevices = 0; // addressed to one of the devices, or broadcast
    std::uint64_t framesSent = 0;
    std::uint64_t sendFailures = 0;
    std::uint64_t framesDelayed = 0; // went out through the timer thread
    std::uint64_t arpReplies = 0;    // answers to ARP requests for a device's address
};

class DeviceEmulator {
  public:
    // The port should be promiscuous: the devices' MACs are not its own.
    explicit DeviceEmulator(std::unique_ptr<PacketPort> port);
    ~DeviceEmulator();
    DeviceEmulator(const DeviceEmulator&) = delete;
    DeviceEmulator& operator=(const DeviceEmulator&) = delete;

    // Devices may be added before or after start(); they live as long as the emulator.
    EmulatedDevice& addDevice(DeviceConfig config);

    // Told, on the port's receive thread, when the port's receive side
    // ended (the interface went down or away); set it before start().
    void setPortEndHandler(PacketPort::EndHandler handler);
    void start();
    // Stops receiving; frames still waiting on the timer are dropped.
    void stop();
    // Puts a freshly opened port in place of one whose receive side ended,
    // and starts it when the emulator runs. The devices keep their state.
    void replacePort(std::unique_ptr<PacketPort> port);

    MacAddress portMac() const;
    std::size_t deviceCount() const;
    EmulatedDevice& device(std::size_t index);
    // The device that now answers as `mac`, or null.
    EmulatedDevice* findDevice(const MacAddress& mac);
    EmulatorCounters counters() const;
    // Delayed frames not sent yet.
    std::size_t pendingFrames() const;

  private:
    void onFrame(std::span<const std::uint8_t> frame);
    void answerArp(std::span<const std::uint8_t> frame);
    void dispatch(std::vector<Outgoing> frames, SteadyClock::time_point now);
    void send(std::span<const std::uint8_t> frame);
    void runTimer();

    void startPort(); // under controlMutex_

    // The port is replaced only while its receive thread is stopped; senders
    // on the timer thread read it under the shared lock.
    mutable std::shared_mutex portMutex_;
    std::unique_ptr<PacketPort> port_;
    PacketPort::EndHandler portEnded_;

    mutable std::shared_mutex devicesMutex_;
    std::vector<std::unique_ptr<EmulatedDevice>> devices_;
    std::multimap<MacAddress, std::size_t> byMac_; // current MACs; a factory write moves one

    mutable std::mutex timerMutex_;
    std::condition_variable timerCv_;
    // Frames due at the same time keep their order (a multimap inserts after equal keys).
    std::multimap<SteadyClock::time_point, std::vector<std::uint8_t>> timed_;
    bool timerQuit_ = false;
    std::thread timer_;

    std::mutex controlMutex_; // start and stop
    bool running_ = false;

    mutable std::mutex countersMutex_;
    EmulatorCounters counters_;
};

} // namespace korvane::sim
