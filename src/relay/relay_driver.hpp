#pragma once

// The packet driver that reaches the adapters through korvane-relay, the one
// program of the package with cap_net_raw, so that korvane and
// korvane-utility (which load plugins) run without any capability.
//
// The driver starts the relay and keeps it for its lifetime, speaking to it
// over a socketpair (relay_protocol.hpp): listing adapters and opening them
// on the control connection, and one more connection per opened port for
// its frames. A relay that ends (killed, crashed) ends the receive side of
// every open port, as an unplugged adapter would, and is started anew by the
// next list or open: the link's recovery works through it unchanged.

#include "base/timing.hpp"
#include "link/packet_driver.hpp"
#include "relay/relay_protocol.hpp"

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace korvane {

class RelayDriver : public PacketDriver {
  public:
    using MessageSink = std::function<void(const std::string& line)>;

    // Starts `program` (korvane-relay). `answerWait` bounds every wait for
    // its answers. When it cannot be started, the adapters are still listed
    // (listing needs no privilege) and every open fails with
    // PermissionDenied, saying why.
    RelayDriver(std::string program, Micros answerWait);
    // Speaks to a relay already connected on `controlFd` (tests serve one in
    // process); it is not started again when it ends.
    RelayDriver(int controlFd, Micros answerWait);
    ~RelayDriver() override;
    RelayDriver(const RelayDriver&) = delete;
    RelayDriver& operator=(const RelayDriver&) = delete;

    std::vector<AdapterInfo> listAdapters() override;
    OpenResult open(const std::string& name, const OpenOptions& options) override;
    std::string permissionFix() const override;

    const std::string& program() const { return program_; }
    // What the relay said that no caller was waiting for (a refused frame,
    // a failed send): one line each, without a line end. Default: standard error.
    void setMessageSink(MessageSink sink);

    // Where that goes; shared with the ports, which may outlive the driver.
    struct Sink;

  private:
    enum class Step { More, Done };
    using AnswerHandler = std::function<Step(const relay::Message& message, int passedFd)>;

    // Sends `request` and hands each answer to `onAnswer` until it says
    // Done. A relay that has ended is started again once. False with
    // `error` when no answer came.
    bool exchange(const std::vector<std::uint8_t>& request, const AnswerHandler& onAnswer,
                  std::string& error);
    bool connectLocked(std::string& error);
    bool greetLocked(std::string& error);
    void disconnectLocked();
    void spawnerLoop();

    const std::string program_;
    const Micros answerWait_;
    const bool spawns_;

    std::mutex controlMutex_; // one request and its answer at a time
    int controlFd_ = -1;
    pid_t pid_ = -1;
    std::string startError_; // why the relay could not be started, under controlMutex_

    // The relay is started from a thread of the driver's own: the kernel
    // ends it (PR_SET_PDEATHSIG) when the thread that started it ends, and
    // this one lives exactly as long as the driver.
    std::mutex spawnMutex_;
    std::condition_variable spawnCv_;
    bool spawnWanted_ = false;
    bool spawnDone_ = false;
    bool quit_ = false;
    int spawnedFd_ = -1;
    pid_t spawnedPid_ = -1;
    std::string spawnError_;
    std::thread spawner_;

    std::shared_ptr<Sink> sink_;
};

} // namespace korvane
