#pragma once

// An in-process Ethernet hub: adapters that the utility opens and stations
// (emulated devices, test peers) that attach directly. A frame sent by one
// attachment reaches every other attachment whose address it matches (or that
// listens promiscuously) and whose receive filter accepts it, in send order,
// on the hub's own delivery thread -- as a real segment would hand it to a
// receive thread.

#include "link/packet_driver.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace korvane {

class SimulatedSegment : public PacketDriver {
  public:
    // Sees every frame put on the segment, before delivery; return false to
    // lose the frame (loss tests), true to carry it.
    using FrameHook = std::function<bool(std::span<const std::uint8_t> frame)>;

    SimulatedSegment();
    ~SimulatedSegment() override;
    SimulatedSegment(const SimulatedSegment&) = delete;
    SimulatedSegment& operator=(const SimulatedSegment&) = delete;

    void addAdapter(const std::string& name, const std::string& description, MacAddress mac);
    // Takes an adapter away: it is no longer listed, and its open ports fail.
    void removeAdapter(const std::string& name);
    // Ends the receive side of every open port of the adapter, as an adapter
    // that went down does: each port's end handler hears `reason` once, and
    // the port neither sends nor receives again. The adapter stays listed
    // and can be opened anew.
    void failAdapter(const std::string& name, const std::string& reason);
    // Adapters whose open() fails as if raw access were refused.
    void denyAccess(const std::string& name);
    // Takes an adapter down (its open ports end as failAdapter's do, and
    // opening it fails for lack of link) or brings it up again. It stays listed.
    void setAdapterDown(const std::string& name, bool down);

    // A station attached straight to the segment (not listed as an adapter).
    std::unique_ptr<PacketPort> attachStation(MacAddress mac, OpenOptions options);

    std::vector<AdapterInfo> listAdapters() override;
    OpenResult open(const std::string& name, const OpenOptions& options) override;

    void setFrameHook(FrameHook hook);
    std::uint64_t framesCarried() const;
    // Blocks until every frame sent so far has been delivered (test helper).
    void drain();

    struct Attachment;

  private:
    struct Pending {
        std::shared_ptr<Attachment> sender;
        std::vector<std::uint8_t> bytes;
        std::chrono::steady_clock::time_point sentAt;
    };

    std::unique_ptr<PacketPort> attach(const std::string& attachmentId, MacAddress mac,
                                       OpenOptions options);
    void enqueue(const std::shared_ptr<Attachment>& sender, std::span<const std::uint8_t> frame);
    void run();

    friend class SimulatedPort;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::condition_variable idle_;
    std::deque<Pending> pending_;
    bool delivering_ = false;
    bool quit_ = false;
    std::vector<AdapterInfo> adapters_;
    std::vector<std::string> denied_;
    std::vector<std::string> down_;
    std::vector<std::weak_ptr<Attachment>> attachments_;
    FrameHook hook_;
    std::uint64_t carried_ = 0;
    std::uint64_t nextStationId_ = 0;
    // When the frame being delivered was sent (what receivers ask for).
    std::atomic<std::chrono::steady_clock::rep> deliveringSentAt_{0};
    std::thread thread_;
};

} // namespace korvane
