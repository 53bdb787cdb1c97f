#include "firmware/upgrade.hpp"

#include "base/byte_cursor.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <system_error>

namespace korvane {

std::string UnitKey(const MacAddress& mac) {
    return std::to_string(mac.serialNumber());
}

bool IsEarlyKind(const DeviceIdentity& record) {
    const auto hardware = record.field(identity_offset::kHardwareVersion, 4);
    const auto firmware = record.field(identity_offset::kFirmwareVersion, 1);
    constexpr std::array<std::uint8_t, 4> kEarlyHardware{0x01, 0x01, 0x00, 0x00};
    return std::equal(hardware.begin(), hardware.end(), kEarlyHardware.begin()) ||
           firmware[0] == 0x01;
}

std::array<std::uint8_t, kEndOfTransferRecordSize> EndOfTransferRecord::encode() const {
    std::array<std::uint8_t, kEndOfTransferRecordSize> bytes{};
    storeU32<0>(bytes, imageSum);
    storeU32<4>(bytes, headerFlag);
    return bytes;
}

const char* UnitFailureName(UnitFailure failure) {
    switch (failure) {
    case UnitFailure::None:
        return "none";
    case UnitFailure::ImageUnreadable:
        return "image_unreadable";
    case UnitFailure::ImageRefused:
        return "image_refused";
    case UnitFailure::NoReply:
        return "no_reply";
    case UnitFailure::PasswordRefused:
        return "password_refused";
    case UnitFailure::BootIncompatible:
        return "boot_incompatible";
    case UnitFailure::BootVersionDeclined:
        return "boot_version_declined";
    case UnitFailure::EarlyKindRefused:
        return "factory_block_refused";
    case UnitFailure::BlockAborted:
        return "block_aborted";
    case UnitFailure::TransferRefused:
        return "transfer_refused";
    case UnitFailure::NoNotice:
        return "no_notice";
    case UnitFailure::Stopped:
        return "stopped";
    case UnitFailure::NotStarted:
        return "not_started";
    case UnitFailure::StoppedBeforeStart:
        return "stopped_before_start";
    case UnitFailure::Cancelled:
        return "cancelled";
    case UnitFailure::Error:
        return "error";
    }
    return "unknown";
}

const char* UnitFailureText(UnitFailure failure) {
    switch (failure) {
    case UnitFailure::None:
        return "";
    case UnitFailure::ImageUnreadable:
        return "image file unreadable";
    case UnitFailure::ImageRefused:
        return "image refused";
    case UnitFailure::NoReply:
        return "no reply";
    case UnitFailure::PasswordRefused:
        return "password refused";
    case UnitFailure::BootIncompatible:
        return "boot incompatible";
    case UnitFailure::BootVersionDeclined:
        return "older boot version declined";
    case UnitFailure::EarlyKindRefused:
        return "factory block not valid for this device";
    case UnitFailure::BlockAborted:
        return "block not accepted";
    case UnitFailure::TransferRefused:
        return "end of transfer refused";
    case UnitFailure::NoNotice:
        return "no completion notice";
    case UnitFailure::Stopped:
        return "stopped";
    case UnitFailure::NotStarted:
        return "not started";
    case UnitFailure::StoppedBeforeStart:
        return "stopped before it started";
    case UnitFailure::Cancelled:
        return "cancelled, nothing sent";
    case UnitFailure::Error:
        return "unexpected error";
    }
    return "unknown";
}

std::string UnitStatusText(const UnitOutcome& outcome) {
    if (outcome.success)
        return firmware_text::kDownloadSuccessfully;
    if (outcome.failure == UnitFailure::Cancelled)
        return std::string(firmware_text::kDownloadCancelled) + " (nothing sent)";
    std::string text = firmware_text::kDownloadFailed;
    if (outcome.failure != UnitFailure::None)
        text += std::string(" (") + UnitFailureText(outcome.failure) + ")";
    return text;
}

// The link may still be inside the notice callback when the session goes:
// the callback reaches the session only through this, and the destructor
// waits until no call is inside.
struct FirmwareUpgrade::Shared {
    std::mutex mutex;
    std::condition_variable idle;
    FirmwareUpgrade* session = nullptr;
    int inside = 0;
};

namespace {
std::vector<DeviceIdentity*> withoutNulls(std::vector<DeviceIdentity*> units) {
    std::erase(units, nullptr);
    return units;
}
} // namespace

FirmwareUpgrade::FirmwareUpgrade(Context& ctx, Operator& op, std::vector<DeviceIdentity*> units,
                                 FirmwarePasswordGate gate)
    : ctx_(ctx), op_(op), units_(withoutNulls(std::move(units))), gate_(std::move(gate)),
      slots_(units_.size()), shared_(std::make_shared<Shared>()) {
    for (const DeviceIdentity* unit : units_)
        rows_.push_back({UnitKey(unit->mac()), {}});
    shared_->session = this;
    ctx_.link.setNoticeReceiver([shared = shared_](const MacAddress& source) {
        {
            std::lock_guard lock(shared->mutex);
            if (!shared->session)
                return;
            ++shared->inside;
        }
        shared->session->onNotice(source);
        std::lock_guard lock(shared->mutex);
        if (--shared->inside == 0)
            shared->idle.notify_all();
    });
}

FirmwareUpgrade::~FirmwareUpgrade() {
    if (busy_.load())
        requestStop();
    if (runner_.joinable())
        runner_.join();
    ctx_.link.setNoticeReceiver(nullptr);
    std::unique_lock lock(shared_->mutex);
    shared_->session = nullptr;
    shared_->idle.wait(lock, [&] { return shared_->inside == 0; });
}

void FirmwareUpgrade::setBusyReceiver(BusyReceiver receiver) {
    std::lock_guard lock(mutex_);
    busyReceiver_ = std::move(receiver);
}

bool FirmwareUpgrade::start(ImagePathSource imagePath) {
    bool expected = false;
    if (!busy_.compare_exchange_strong(expected, true))
        return false;
    if (runner_.joinable()) // the previous run has ended; only its thread remains
        runner_.join();
    stop_.reset(); // here, so that a stop asked for once start() returned is kept
    runner_ = std::thread([this, path = std::move(imagePath)] {
        // The run's thread ends here whatever it throws; the units it
        // started have been joined on the way out.
        try {
            runClaimed(path);
        } catch (const std::exception& e) {
            endFailedRun(e.what());
        } catch (...) {
            endFailedRun("unknown error");
        }
    });
    return true;
}

void FirmwareUpgrade::endFailedRun(const std::string& what) {
    setStatusLine("Download stopped by an unexpected error: " + what);
    BusyReceiver busyReceiver;
    {
        std::lock_guard lock(mutex_);
        busyReceiver = busyReceiver_;
    }
    busy_.store(false);
    if (busyReceiver)
        busyReceiver(false);
}

void FirmwareUpgrade::wait() {
    if (runner_.joinable())
        runner_.join();
}

void FirmwareUpgrade::requestStop() {
    stop_.requestStop();
    {
        std::lock_guard lock(bootMutex_);
        bootCv_.notify_all();
    }
    std::lock_guard lock(noticeMutex_);
    noticeCv_.notify_all();
}

std::vector<StatusRow> FirmwareUpgrade::statusRows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

UnitResultMap FirmwareUpgrade::results() const {
    std::lock_guard lock(mutex_);
    return results_;
}

std::optional<RunSummary> FirmwareUpgrade::lastRun() const {
    std::lock_guard lock(mutex_);
    return lastRun_;
}

void FirmwareUpgrade::setStatusLine(const std::string& text) {
    op_.setStatusLine(text);
}

namespace {
bool sameKey(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}
} // namespace

void FirmwareUpgrade::setUnitStatus(const std::string& key, const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        auto row = std::find_if(rows_.begin(), rows_.end(),
                                [&](const StatusRow& r) { return sameKey(r.key, key); });
        if (row != rows_.end())
            row->text = text;
        else
            rows_.push_back({key, text});
    }
    op_.setUnitStatus(key, text);
}

void FirmwareUpgrade::refreshProgress(std::uint64_t length) {
    if (units_.empty() || length == 0)
        return;
    std::uint64_t done = 0;
    for (const UnitProgressSlot& slot : slots_)
        if (slot.unitIndex.load() != -1)
            done += slot.bytesDone.load();
    // Mean first, then the percentage, each by integer division: a unit not
    // yet started counts 0, a failed one counts as complete.
    const std::uint64_t mean = done / units_.size();
    const auto percent = static_cast<int>(std::min<std::uint64_t>(mean * 100 / length, 100));
    op_.setProgress(percent);
}

UnitGateResult FirmwareUpgrade::checkPassword(DeviceIdentity& record) {
    if (!gate_)
        return {};
    std::lock_guard lock(questionMutex_);
    return gate_(record, &stop_);
}

Answer FirmwareUpgrade::ask(const Question& question) {
    std::lock_guard lock(questionMutex_);
    return op_.ask(question);
}

void FirmwareUpgrade::showMessage(const std::string& text, MessageIcon icon) {
    std::lock_guard lock(questionMutex_);
    op_.showMessage(text, icon);
}

void FirmwareUpgrade::beginBatch(int units) {
    std::lock_guard lock(bootMutex_);
    bootPending_ = units;
    olderBootUnits_.clear();
    bootAsking_ = false;
    bootAnswer_.reset();
}

void FirmwareUpgrade::passedBootCheck() {
    std::lock_guard lock(bootMutex_);
    if (--bootPending_ <= 0)
        bootCv_.notify_all();
}

namespace {
Question olderBootQuestion(const std::vector<MacAddress>& units) {
    Question question;
    question.topic = QuestionTopic::OlderBootVersion;
    question.buttons = QuestionButtons::YesNo;
    question.defaultAnswer = Answer::No; // keeping the newer boot is the safe side
    question.icon = MessageIcon::None;
    question.devices = units;
    std::string list;
    for (const MacAddress& unit : units)
        list += DeviceName(unit) + "\n";
    question.text = "Your File's Boot Version is older than Flash's Boot Version on " +
                    std::string(units.size() == 1 ? "this device" : "these devices") + ":\n" +
                    list + "Continue?";
    return question;
}
} // namespace

bool FirmwareUpgrade::confirmOlderBoot(const MacAddress& unit, bool firstArrival) {
    std::unique_lock lock(bootMutex_);
    if (!firstArrival) {
        // After Ignore: the batch's answer, when it had the question.
        if (bootAnswer_)
            return *bootAnswer_;
        lock.unlock();
        return GoesAhead(ask(olderBootQuestion({unit})));
    }
    olderBootUnits_.push_back(unit);
    if (--bootPending_ <= 0)
        bootCv_.notify_all();
    // Every unit of the batch gets past its boot check before the one
    // question names all that need it; the first to see that asks.
    bootCv_.wait(lock, [&] {
        return bootAnswer_ || (bootPending_ <= 0 && !bootAsking_) || stop_.stopRequested();
    });
    if (bootAnswer_)
        return *bootAnswer_;
    if (stop_.stopRequested())
        return false;
    bootAsking_ = true;
    const std::vector<MacAddress> units = olderBootUnits_;
    lock.unlock();
    const bool yes = GoesAhead(ask(olderBootQuestion(units)));
    lock.lock();
    bootAnswer_ = yes;
    bootCv_.notify_all();
    return yes;
}

std::optional<UnitFailure> FirmwareUpgrade::screenImage(const std::string& path) {
    shortImageAccepted_.store(false);
    const ImageFileCheck check = CheckImageFile(path);
    switch (check.verdict) {
    case ImageFileVerdict::Usable:
        return std::nullopt;
    case ImageFileVerdict::TooLarge:
        showMessage(ImageRefusalText(check), MessageIcon::Error);
        return UnitFailure::ImageRefused;
    case ImageFileVerdict::Short: {
        Question question;
        question.topic = QuestionTopic::ShortImage;
        question.text = ImageRefusalText(check);
        question.icon = MessageIcon::Warning;
        question.buttons = QuestionButtons::ContinueCancel;
        question.defaultAnswer = Answer::Cancel;
        for (const DeviceIdentity* unit : units_)
            question.devices.push_back(unit->mac());
        const bool go = GoesAhead(ask(question));
        shortImageAccepted_.store(go);
        if (go)
            return std::nullopt;
        return UnitFailure::Cancelled;
    }
    case ImageFileVerdict::CannotOpen:
    case ImageFileVerdict::Empty:
        break;
    }
    // Each unit finds out for itself and reports the file unreadable.
    return std::nullopt;
}

void FirmwareUpgrade::onNotice(const MacAddress& source) {
    // A unit's row and result come from its own run, which ends with the
    // notice it waits for; a notice at any other time (an earlier run's, or
    // one forged on the segment) changes nothing for it. A notice from a
    // station that is no unit is counted and nothing more: the protocol does
    // not authenticate notices, and a flood of forged ones from random
    // addresses must not grow the list.
    const bool isUnit = std::any_of(units_.begin(), units_.end(), [&](const DeviceIdentity* unit) {
        return unit->mac() == source;
    });
    if (!isUnit) {
        foreignNotices_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    {
        std::lock_guard lock(noticeMutex_);
        for (NoticeWaiter* waiter : waiters_)
            if (waiter->mac_ == source && waiter->armed_)
                waiter->noticed_ = true;
    }
    noticeCv_.notify_all();
}

std::string ForeignNoticesText(std::uint64_t count) {
    if (count == 0)
        return {};
    char line[96];
    std::snprintf(line, sizeof line, firmware_text::kForeignNoticesFormat,
                  static_cast<unsigned long long>(count));
    return line;
}

FirmwareUpgrade::NoticeWaiter::NoticeWaiter(FirmwareUpgrade& session, const MacAddress& mac)
    : session_(session), mac_(mac) {
    std::lock_guard lock(session_.noticeMutex_);
    session_.waiters_.push_back(this);
}

FirmwareUpgrade::NoticeWaiter::~NoticeWaiter() {
    std::lock_guard lock(session_.noticeMutex_);
    std::erase(session_.waiters_, this);
}

void FirmwareUpgrade::NoticeWaiter::arm() {
    std::lock_guard lock(session_.noticeMutex_);
    armed_ = true;
    noticed_ = false;
}

bool FirmwareUpgrade::NoticeWaiter::wait(SteadyClock::time_point deadline) {
    std::unique_lock lock(session_.noticeMutex_);
    session_.noticeCv_.wait_until(lock, deadline,
                                  [&] { return noticed_ || session_.stop_.stopRequested(); });
    return noticed_;
}

std::optional<RunSummary> FirmwareUpgrade::downloadAllUnits(const ImagePathSource& imagePath) {
    bool expected = false;
    if (!busy_.compare_exchange_strong(expected, true))
        return std::nullopt;
    stop_.reset();
    return runClaimed(imagePath);
}

RunSummary FirmwareUpgrade::runClaimed(const ImagePathSource& imagePath) {
    BusyReceiver busyReceiver;
    {
        std::lock_guard lock(mutex_);
        busyReceiver = busyReceiver_;
    }
    if (busyReceiver)
        busyReceiver(true);

    foreignNotices_.store(0);
    for (UnitProgressSlot& slot : slots_) {
        slot.bytesDone.store(0);
        slot.unitIndex.store(-1);
    }
    for (const DeviceIdentity* unit : units_) {
        const std::string key = UnitKey(unit->mac());
        {
            std::lock_guard lock(mutex_);
            results_[key] = 0;
        }
        setUnitStatus(key, {});
    }

    // The image is looked at once, before any unit starts.
    const std::optional<UnitFailure> refusal = screenImage(imagePath ? imagePath() : std::string());
    const bool imageAccepted = !refusal;

    RunSummary summary;
    summary.units = static_cast<int>(units_.size());
    summary.outcomes.resize(units_.size());

    // A worker's thread is joined however the run leaves this scope.
    struct Worker {
        std::jthread thread;
        std::size_t unit = 0;
    };
    std::vector<Worker> batch;
    // A batch is a barrier: the next unit starts only when all of the batch ended.
    auto finishBatch = [&] {
        for (Worker& worker : batch)
            if (worker.thread.joinable())
                worker.thread.join();
        for (const Worker& worker : batch)
            if (!summary.outcomes[worker.unit].success)
                ++summary.failures;
        batch.clear();
    };
    for (std::size_t k = 0; k < units_.size() && !imageAccepted; ++k) {
        summary.outcomes[k].mac = units_[k]->mac();
        summary.outcomes[k].key = UnitKey(units_[k]->mac());
        summary.outcomes[k].failure = *refusal;
        ++summary.failures;
    }
    summary.cancelled = refusal == UnitFailure::Cancelled;
    for (std::size_t k = 0; k < units_.size() && imageAccepted; ++k) {
        if (k % kUnitsPerBatch == 0)
            beginBatch(static_cast<int>(std::min<std::size_t>(kUnitsPerBatch, units_.size() - k)));
        UnitJob job;
        job.imagePath = imagePath ? imagePath() : std::string();
        job.record = units_[k];
        job.progress = &slots_[k];
        job.unitIndex = static_cast<int>(k);
        slots_[k].unitIndex.store(static_cast<int>(k));
        summary.outcomes[k].mac = units_[k]->mac();
        summary.outcomes[k].key = UnitKey(units_[k]->mac());
        if (stopStarting()) {
            summary.outcomes[k].failure = UnitFailure::StoppedBeforeStart;
            ++summary.failures;
            passedBootCheck(); // the batch's boot question does not wait for it
            continue;
        }
        Worker worker;
        worker.unit = k;
        try {
            worker.thread = std::jthread(
                [this, job, &summary, k] { summary.outcomes[k] = DownloadToDevice(*this, job); });
        } catch (const std::system_error&) {
            summary.outcomes[k].failure = UnitFailure::NotStarted;
            passedBootCheck(); // the batch's boot question does not wait for it
        }
        batch.push_back(std::move(worker));
        if (batch.size() == static_cast<std::size_t>(kUnitsPerBatch))
            finishBatch();
    }
    finishBatch();
    imageCache_.clear(); // the next run reads the file again

    // Rebuild the list from the results, in key order: a unit's row is its
    // own outcome, with the reason of a failure; rows that notices of other
    // devices added stay, marked as they were.
    std::vector<StatusRow> rows;
    {
        std::lock_guard lock(mutex_);
        std::map<std::string, std::string> unitTexts;
        for (const UnitOutcome& outcome : summary.outcomes) {
            results_[outcome.key] = outcome.success ? 1 : 0;
            unitTexts[outcome.key] = UnitStatusText(outcome);
        }
        for (const auto& [key, flag] : results_) {
            const auto unit = unitTexts.find(key);
            rows.push_back({key, unit != unitTexts.end() ? unit->second
                                 : flag == 1             ? firmware_text::kDownloadSuccessfully
                                                         : firmware_text::kDownloadFailed});
        }
        rows_ = rows;
    }
    summary.rows = rows;
    char line[96];
    std::snprintf(line, sizeof line, firmware_text::kSummaryFormat,
                  summary.units - summary.failures, summary.failures);
    summary.summaryLine = summary.cancelled ? firmware_text::kCancelledSummary : line;
    summary.foreignNotices = foreignNotices_.load();
    const std::string foreign = ForeignNoticesText(summary.foreignNotices);
    setStatusLine(foreign.empty() ? summary.summaryLine : summary.summaryLine + foreign);
    {
        std::lock_guard lock(mutex_);
        lastRun_ = summary;
    }
    busy_.store(false);
    if (busyReceiver)
        busyReceiver(false);
    return summary;
}

} // namespace korvane
