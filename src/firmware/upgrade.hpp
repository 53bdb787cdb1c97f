#pragma once

// The firmware upgrade of one or several devices ("units"): one session per
// Firmware Upgrade dialog (or command-line run), holding the status list, the
// per-unit results, the progress slots and the routing of the devices'
// completion notices. downloadAllUnits runs the units eight at a time;
// DownloadToDevice upgrades one of them.
//
// Threads: downloadAllUnits runs on the caller's thread (or on a thread of
// its own through start()), each unit on a worker thread; the link's receive
// thread delivers completion notices. Every Operator call can come from any
// of them; the GUI's Operator runs them on its own thread, so the session
// never holds one of its locks across an Operator call. The notifications
// (status line, unit status, progress) are taken to return without waiting
// for that thread, as the Operator interface says: the session's destructor
// waits for a notice being handled, and may run on the GUI thread.
//
// Part of the firmware layer: uses protocol and what lies below it; docs/architecture.md shows
// which layer may use which.

#include "base/operator.hpp"
#include "base/sync.hpp"
#include "firmware/firmware_image.hpp"
#include "firmware/image_cache.hpp"
#include "protocol/context.hpp"
#include "protocol/device_identity.hpp"
#include "protocol/password.hpp"
#include "protocol/transactions.hpp"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvane {

inline constexpr int kUnitsPerBatch = 8; // at most this many units transfer at once

// Texts the operator sees, exactly as the devices' documentation words them.
namespace firmware_text {
inline constexpr const char* kPreparing = "Preparing Download...";
inline constexpr const char* kDownloading = "Downloading...";
inline constexpr const char* kProgramming = "Programming...";
inline constexpr const char* kAbort = "Download Abort";
inline constexpr const char* kIncorrectPassword = "Incorrect Password.";
inline constexpr const char* kOlderBootVersion =
    "Your File's Boot Version is older than Flash's Boot Version!\nContinue?";
inline constexpr const char* kDownloadFailed = "Download Failed";
inline constexpr const char* kDownloadSuccessfully = "Download Successfully";
inline constexpr const char* kNoRespond = "No respond!";
inline constexpr const char* kSummaryFormat = "%d unit success, %d unit fail. ";
// Said once after a run when completion notices came from stations that are
// no unit of it (the count is its only argument).
inline constexpr const char* kForeignNoticesFormat =
    "%llu notices from stations outside this run ignored";
// A run the operator cancelled at the image question: nothing went out.
inline constexpr const char* kDownloadCancelled = "Download Cancelled";
inline constexpr const char* kCancelledSummary = "Download cancelled: nothing was sent.";
} // namespace firmware_text

// The text that names a unit: its serial number, "%u" of the last four MAC bytes.
std::string UnitKey(const MacAddress& mac);
// Ordered by plain byte comparison of the key texts; 1 success, 0 not.
using UnitResultMap = std::map<std::string, int>;

// Hardware version 1.1.0.0 (numeric form) or firmware version 1.x: these
// devices accept no image whose factory block is not valid.
bool IsEarlyKind(const DeviceIdentity& record);

// Sent with the end-of-transfer request: the image sum and whether the
// image's factory block was patched (0) or sent as it was (0x00010000).
inline constexpr std::uint32_t kHeaderFlagPatched = 0x00000000;
inline constexpr std::uint32_t kHeaderFlagUnpatched = 0x00010000;
inline constexpr std::size_t kEndOfTransferRecordSize = 8;
struct EndOfTransferRecord {
    std::uint32_t imageSum = 0;
    std::uint32_t headerFlag = kHeaderFlagPatched;
    std::array<std::uint8_t, kEndOfTransferRecordSize> encode() const;
};

// One per unit of a run: the image bytes it has finished (the image length
// once it failed), and its index while it belongs to a started unit (-1 otherwise).
struct UnitProgressSlot {
    std::atomic<std::uint64_t> bytesDone{0};
    std::atomic<int> unitIndex{-1};
};

// The firmware variant of the password gate: given the unit's record (whose
// remembered password it reads and, on success, renews), the password the
// device accepted, or why none was.
using FirmwarePasswordGate = std::function<UnitGateResult(DeviceIdentity& record, StopToken* stop)>;

// The password gate as the firmware upgrade runs it for a unit
// (AcquireUnitPassword over the record's remembered password); an accepted
// password is remembered in the record.
UnitGateResult CheckUnitPassword(Context& ctx, Operator& op, DeviceIdentity& record,
                                 StopToken* stop);
// CheckUnitPassword bound to a context and an operator.
FirmwarePasswordGate UnitPasswordGate(Context& ctx, Operator& op);

enum class UnitFailure {
    None,
    ImageUnreadable,     // cannot open, empty, too large, cannot allocate or read
    ImageRefused,        // a short image the operator did not confirm, or one too large
    NoReply,             // the device did not answer the password check
    PasswordRefused,     // the gate accepted no password (at the start or after Ignore)
    BootIncompatible,    // compatibility codes of image and flash differ
    BootVersionDeclined, // the image's boot version is older and the operator said No
    EarlyKindRefused,    // factory block not valid and the device is of the early kind
    BlockAborted,        // a block was not accepted and the operator chose Abort
    TransferRefused,     // the device refused the end-of-transfer request (status 1)
    NoNotice,            // no completion notice from the device within the wait
    Stopped,             // the session was told to stop
    NotStarted,          // its worker thread could not be started
    StoppedBeforeStart,  // the run was told to start no more transfers before this one's
    Cancelled,           // the operator cancelled the run before anything was sent
    Error,               // the unit's work ended with an unexpected error
};
const char* UnitFailureName(UnitFailure failure); // "no_notice" and the like
const char* UnitFailureText(UnitFailure failure); // "no completion notice" and the like

struct UnitOutcome {
    MacAddress mac;
    std::string key;
    bool success = false;
    UnitFailure failure = UnitFailure::None;
    ImageLoadError imageError = ImageLoadError::None;
    std::uint64_t imageLength = 0;
    std::uint32_t blocksAccepted = 0; // in the last transfer (Ignore starts over)
    bool factoryBlockPatched = false;
};

// What one unit is given when it starts. The image path is read for each
// unit as it starts, so a path changed during a run reaches the later units.
struct UnitJob {
    std::string imagePath;
    DeviceIdentity* record = nullptr;
    UnitProgressSlot* progress = nullptr;
    int unitIndex = 0;
};

struct StatusRow {
    std::string key;
    std::string text;
    friend bool operator==(const StatusRow&, const StatusRow&) = default;
};

// The text of a unit's row after a run: "Download Successfully", or the
// failure with its reason, "Download Failed (boot incompatible)", as every
// front end shows it.
std::string UnitStatusText(const UnitOutcome& outcome);

struct RunSummary {
    int units = 0;
    int failures = 0;
    // The operator cancelled at the image question: no unit was started.
    bool cancelled = false;
    std::vector<UnitOutcome> outcomes; // in unit order
    std::vector<StatusRow> rows;       // the rebuilt status list
    std::string summaryLine;
    // Completion notices during the run from stations that are no unit of it.
    std::uint64_t foreignNotices = 0;
};

// "N notices from stations outside this run ignored", or empty when N is 0.
std::string ForeignNoticesText(std::uint64_t count);

class FirmwareUpgrade {
  public:
    using BusyReceiver = std::function<void(bool busy)>;
    using ImagePathSource = std::function<std::string()>;

    // `units` are the devices' records, in the order of the selection; they
    // must outlive the session (the gate renews their remembered password).
    // Installs the session as the link's notice receiver.
    FirmwareUpgrade(Context& ctx, Operator& op, std::vector<DeviceIdentity*> units,
                    FirmwarePasswordGate gate);
    // Stops a run still going, waits for it, and removes the notice receiver.
    ~FirmwareUpgrade();
    FirmwareUpgrade(const FirmwareUpgrade&) = delete;
    FirmwareUpgrade& operator=(const FirmwareUpgrade&) = delete;

    // --- what a front end uses

    // Told true when a run begins and false when it has ended (after the
    // status list was rebuilt and the summary set): the GUI then rereads
    // statusRows(). Called on the run's thread.
    void setBusyReceiver(BusyReceiver receiver);
    // Starts downloadAllUnits on a thread of its own; false while a run is
    // busy. `imagePath` is called on that thread, once per unit.
    bool start(ImagePathSource imagePath);
    // Waits for a run started by start() to end.
    void wait();
    // Runs one whole run on the caller's thread; nullopt while another is busy.
    std::optional<RunSummary> downloadAllUnits(const ImagePathSource& imagePath);
    bool busy() const { return busy_.load(); }
    // Makes a running run give up: transactions and waits end, units fail.
    void requestStop();
    // The gentle stop: no unit starts its transfer from now on (they end as
    // StoppedBeforeStart), and the units already transferring finish their
    // image, since a half-written image is worse than the wait. Holds for
    // every later run of the session too.
    void requestStopStarting() { stopStarting_.store(true); }
    bool stopStarting() const { return stopStarting_.load(); }

    // How the units pace their commands; read by each unit as it starts.
    // Shared (the default, what every device is known to take): one send
    // pause between any two commands of the run, so all units together send
    // at most one command per pause. PerDevice: each unit keeps the pause
    // between its own commands, and units send side by side; faster for many
    // units.
    void setPacing(CommandPacing pacing) { pacing_.store(pacing); }
    CommandPacing pacing() const { return pacing_.load(); }

    // The status list as it stands: one row per unit in unit order when the
    // session was made, rebuilt in key order at the end of each run.
    std::vector<StatusRow> statusRows() const;
    UnitResultMap results() const;
    std::optional<RunSummary> lastRun() const;
    int unitCount() const { return static_cast<int>(units_.size()); }
    // Image bytes unit `unit` (in the order given) has finished in the current run.
    std::uint64_t unitBytesDone(std::size_t unit) const {
        return unit < slots_.size() ? slots_[unit].bytesDone.load() : 0;
    }

    // A completion notice from `source` (the link's receive thread calls it):
    // releases the unit of that device if it waits. A notice from a station
    // that is no unit is only counted: anyone on the segment can send one.
    void onNotice(const MacAddress& source);

    // --- what a unit uses

    Context& context() { return ctx_; }
    Operator& op() { return op_; }
    const Timing& timing() const { return ctx_.timing; }
    StopToken& stopToken() { return stop_; }
    ImageFileLock& imageFileLock() { return imageFileLock_; }
    // The image at `path`, one copy shared by the units of a run.
    SharedImageLoad loadImage(const std::string& path) {
        return imageCache_.load(path, imageFileLock_);
    }
    void setStatusLine(const std::string& text);
    // Sets the unit's row (found by key, case-insensitively) or appends one.
    void setUnitStatus(const std::string& key, const std::string& text);
    // The mean progress of all units into the progress bar, for an image of `length` bytes.
    void refreshProgress(std::uint64_t length);
    // Runs the gate for one unit. The units run at once, but their questions
    // reach the operator one at a time: the gate, ask() and showMessage()
    // take turns under one lock.
    UnitGateResult checkPassword(DeviceIdentity& record);
    Answer ask(const Question& question);
    void showMessage(const std::string& text, MessageIcon icon);

    // The older-boot question is asked once for the units of a batch that
    // need it, when every unit of the batch has passed its boot check: each
    // unit calls exactly one of these the first time it gets there (or ends
    // before). confirmOlderBoot waits for the answer, which is shared; a unit
    // that asks again after Ignore (`firstArrival` false) gets the batch's
    // answer, or a question of its own when the batch had none.
    bool confirmOlderBoot(const MacAddress& unit, bool firstArrival);
    void passedBootCheck();
    // Whether the operator let a short image go out in this run.
    bool shortImageAccepted() const { return shortImageAccepted_.load(); }

    // A unit's claim on the notices of its device. Arm it before the
    // end-of-transfer request so that a quick notice is not missed.
    class NoticeWaiter {
      public:
        NoticeWaiter(FirmwareUpgrade& session, const MacAddress& mac);
        ~NoticeWaiter();
        NoticeWaiter(const NoticeWaiter&) = delete;
        NoticeWaiter& operator=(const NoticeWaiter&) = delete;
        void arm();
        // True when the device's notice came after arm() and before the deadline.
        bool wait(SteadyClock::time_point deadline);

      private:
        friend class FirmwareUpgrade;
        FirmwareUpgrade& session_;
        MacAddress mac_;
        bool armed_ = false;
        bool noticed_ = false;
    };

  private:
    struct Shared;
    RunSummary runClaimed(const ImagePathSource& imagePath);
    // Looks at the image before any unit starts: why it is refused, or
    // nullopt when the units may start.
    std::optional<UnitFailure> screenImage(const std::string& path);
    // A run whose thread ended with an exception: it ends as failed.
    void endFailedRun(const std::string& what);
    void beginBatch(int units);

    Context& ctx_;
    Operator& op_;
    std::vector<DeviceIdentity*> units_;
    FirmwarePasswordGate gate_;
    std::vector<UnitProgressSlot> slots_;
    ImageFileLock imageFileLock_;
    ImageCache imageCache_;
    std::atomic<CommandPacing> pacing_{CommandPacing::Shared};
    StopToken stop_;
    std::mutex questionMutex_; // one question to the operator at a time
    std::atomic<bool> shortImageAccepted_{false};

    std::mutex bootMutex_; // the batch's older-boot question
    std::condition_variable bootCv_;
    int bootPending_ = 0;
    std::vector<MacAddress> olderBootUnits_;
    bool bootAsking_ = false;
    std::optional<bool> bootAnswer_;

    mutable std::mutex mutex_; // rows, results, busy receiver, last run
    std::vector<StatusRow> rows_;
    UnitResultMap results_;
    BusyReceiver busyReceiver_;
    std::optional<RunSummary> lastRun_;

    std::mutex noticeMutex_;
    std::condition_variable noticeCv_;
    std::vector<NoticeWaiter*> waiters_;

    std::atomic<std::uint64_t> foreignNotices_{0};
    std::atomic<bool> stopStarting_{false};
    std::atomic<bool> busy_{false};
    std::thread runner_;
    std::shared_ptr<Shared> shared_; // what the link's notice callback may still reach
};

// Upgrades one unit and tells how it ended. Runs on the unit's worker thread.
UnitOutcome DownloadToDevice(FirmwareUpgrade& session, const UnitJob& job);

} // namespace korvane
