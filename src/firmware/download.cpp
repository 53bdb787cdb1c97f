// DownloadToDevice: one unit's upgrade as a small state machine.
//
//   LoadImage -> PasswordGate -> BootCheck -> FactoryBlock -> Transfer (one
//   block per pass) -> Programming -> WaitNotice -> success
//
// Ignore after a refused block leads back through the gate (RecheckPassword)
// to BootCheck and starts the transfer over at block 0. Every failure leaves
// through fail(), which marks the unit's progress as complete.

#include "base/byte_cursor.hpp"
#include "firmware/upgrade.hpp"
#include "protocol/frame.hpp"
#include "protocol/transactions.hpp"

#include <algorithm>

namespace korvane {

namespace {

inline constexpr std::size_t kBootReplySize = 8;
inline constexpr std::size_t kFlashBootWordOffset = 4; // in the boot reply's data

enum class Step {
    LoadImage,
    PasswordGate,
    RecheckPassword,
    BootCheck,
    FactoryBlock,
    Transfer,
    Programming,
    WaitNotice,
    Succeeded,
    Failed,
};

class UnitDownload {
  public:
    UnitDownload(FirmwareUpgrade& session, const UnitJob& job)
        : session_(session), ctx_(session.context()), job_(job) {
        outcome_.mac = job.record->mac();
        outcome_.key = UnitKey(outcome_.mac);
        target_ = outcome_.mac;
    }

    UnitOutcome run() {
        Step step = Step::LoadImage;
        // The unit's thread ends here whatever its steps throw: the unit
        // fails, and the batch still learns that it will not come to the
        // boot check.
        try {
            while (step != Step::Succeeded && step != Step::Failed) {
                if (session_.stopToken().stopRequested()) {
                    step = fail(UnitFailure::Stopped);
                    break;
                }
                step = advance(step);
            }
        } catch (...) {
            step = fail(UnitFailure::Error);
        }
        if (!bootArrived_) // ended before its boot check: the batch's question goes on without it
            session_.passedBootCheck();
        outcome_.success = step == Step::Succeeded;
        return outcome_;
    }

  private:
    Step advance(Step step) {
        switch (step) {
        case Step::LoadImage:
            return loadImage();
        case Step::PasswordGate:
        case Step::RecheckPassword:
            return passwordGate();
        case Step::BootCheck:
            return bootCheck();
        case Step::FactoryBlock:
            return factoryBlock();
        case Step::Transfer:
            return transferBlock();
        case Step::Programming:
            return programming();
        case Step::WaitNotice:
            return waitNotice();
        case Step::Succeeded:
        case Step::Failed:
            break;
        }
        return step;
    }

    Step loadImage() {
        SharedImageLoad loaded = session_.loadImage(job_.imagePath);
        outcome_.imageLength = loaded.fileLength;
        if (!loaded.image) {
            outcome_.failure = UnitFailure::ImageUnreadable;
            outcome_.imageError = loaded.error;
            // A file that cannot be opened has no length to count as done.
            if (loaded.error != ImageLoadError::CannotOpen)
                markComplete(loaded.fileLength);
            return Step::Failed;
        }
        image_ = UnitImage(std::move(loaded.image), loaded.sum);
        target_ = job_.record->mac();
        pacing_ = session_.pacing();
        // The run asked about a short image before it started; a file that
        // became short since then has had no such question.
        if (!image_.hasBootIdentificationWord() && !session_.shortImageAccepted())
            return fail(UnitFailure::ImageRefused);
        return Step::PasswordGate;
    }

    Step passwordGate() {
        const UnitGateResult gate = session_.checkPassword(*job_.record);
        switch (gate.outcome) {
        case UnitGateOutcome::Accepted:
            password_ = gate.password;
            return Step::BootCheck;
        case UnitGateOutcome::NoReply:
            message(firmware_text::kNoRespond);
            return fail(UnitFailure::NoReply);
        case UnitGateOutcome::Refused:
        case UnitGateOutcome::Cancelled:
            break;
        }
        message(firmware_text::kIncorrectPassword);
        return fail(UnitFailure::PasswordRefused);
    }

    Step bootCheck() {
        std::array<std::uint8_t, kBootReplySize> reply{};
        const auto status = QueryDevice(ctx_, target_, code::kBootQuery, code::kBootReply,
                                        password_, 0, reply, &session_.stopToken());
        // A device that does not answer, and an image too short to carry a
        // boot identification word, get the download without the check.
        const auto image = image_.bootIdentificationWord();
        const std::uint32_t flash = loadU32<kFlashBootWordOffset>(reply);
        const bool checked = status == status::kDone && image;
        if (checked && CompatibilityCodeOf(*image) != CompatibilityCodeOf(flash))
            return fail(UnitFailure::BootIncompatible);
        if (checked && BootVersionOf(*image) < BootVersionOf(flash)) {
            const bool first = !bootArrived_;
            bootArrived_ = true;
            if (!session_.confirmOlderBoot(target_, first))
                return fail(session_.stopToken().stopRequested()
                                ? UnitFailure::Stopped
                                : UnitFailure::BootVersionDeclined);
            return Step::FactoryBlock;
        }
        arriveAtBootCheck();
        return Step::FactoryBlock;
    }

    Step factoryBlock() {
        // The last step before the first block goes out: a gentle stop ends
        // the unit here, with nothing of the image sent.
        if (session_.stopStarting())
            return fail(UnitFailure::StoppedBeforeStart);
        const bool valid = image_.checkAndPatchFactoryBlock(target_);
        if (!valid && IsEarlyKind(*job_.record))
            return fail(UnitFailure::EarlyKindRefused);
        outcome_.factoryBlockPatched = valid;
        endOfTransfer_.headerFlag = valid ? kHeaderFlagPatched : kHeaderFlagUnpatched;
        endOfTransfer_.imageSum = image_.sum();

        show(firmware_text::kDownloading);
        blockNumber_ = 0;
        bytesSent_ = 0;
        outcome_.blocksAccepted = 0;
        pauseTaken_ = false;
        return Step::Transfer;
    }

    Step transferBlock() {
        const std::size_t length = image_.length();
        if (bytesSent_ >= length)
            return Step::Programming;
        const std::size_t n = std::min(kFirmwareBlockSize, length - bytesSent_);
        const auto status =
            CommandDevice(ctx_, target_, code::kFirmwareBlock, code::kFirmwareReply, password_,
                          static_cast<std::uint16_t>(blockNumber_), image_.block(bytesSent_, n),
                          &session_.stopToken(), pacing_);
        // An abort of the run cuts the transfer here: nobody is asked about
        // a block that went unanswered because the wait was ended.
        if (status == status::kNoReply && session_.stopToken().stopRequested())
            return fail(UnitFailure::Stopped);
        switch (status) {
        case status::kNoReply:
        case status::kPasswordRefused:
            show(firmware_text::kAbort);
            switch (session_.ask(blockFailureQuestion())) {
            case Answer::Retry:
                return Step::Transfer; // same number, same bytes
            case Answer::Ignore:
                return Step::RecheckPassword;
            default:
                break;
            }
            return fail(UnitFailure::BlockAborted);
        case status::kDone:
            show(firmware_text::kDownloading);
            break;
        case status::kBusy:
            if (!pauseTaken_) {
                // The device is still erasing its flash: give it one pause,
                // then send the same block again.
                show(firmware_text::kPreparing);
                pauseTaken_ = true;
                session_.stopToken().sleepFor(session_.timing().firmwareBusyPause);
                return Step::Transfer;
            }
            break; // a later busy counts as accepted
        default:
            break;
        }
        ++blockNumber_;
        ++outcome_.blocksAccepted;
        bytesSent_ += n;
        job_.progress->bytesDone.store(bytesSent_);
        session_.refreshProgress(length);
        return Step::Transfer;
    }

    Step programming() {
        session_.setUnitStatus(outcome_.key, firmware_text::kProgramming);
        waiter_.emplace(session_, target_);
        waiter_->arm();
        // No status of this request ends the unit: a device that does not
        // answer it still gets the whole wait for its notice.
        const auto record = endOfTransfer_.encode();
        const auto status = CommandDevice(ctx_, target_, code::kFirmwareEnd, code::kFirmwareReply,
                                          password_, 0, record, &session_.stopToken(), pacing_);
        // An explicit refusal ends the unit here: no notice that anyone on the
        // segment can send in the device's name may turn it into a success.
        if (status == status::kPasswordRefused)
            return fail(UnitFailure::TransferRefused);
        return Step::WaitNotice;
    }

    Step waitNotice() {
        const auto deadline = SteadyClock::now() + session_.timing().noticeWait;
        if (waiter_->wait(deadline)) {
            session_.setUnitStatus(outcome_.key, firmware_text::kDownloadSuccessfully);
            return Step::Succeeded;
        }
        return fail(session_.stopToken().stopRequested() ? UnitFailure::Stopped
                                                         : UnitFailure::NoNotice);
    }

    void arriveAtBootCheck() {
        if (bootArrived_)
            return;
        bootArrived_ = true;
        session_.passedBootCheck();
    }

    // Every message and question about one unit names it.
    void message(const char* text) {
        session_.showMessage(DeviceName(target_) + ": " + text, MessageIcon::Warning);
    }

    Question blockFailureQuestion() const {
        Question question;
        question.topic = QuestionTopic::BlockFailure;
        question.text = DeviceName(target_) + ": " + firmware_text::kDownloadFailed + " at block " +
                        std::to_string(blockNumber_);
        question.icon = MessageIcon::Error;
        question.buttons = QuestionButtons::AbortRetryIgnore;
        question.defaultAnswer = Answer::Abort;
        question.devices = {target_};
        return question;
    }

    void show(const char* text) {
        session_.setStatusLine(text);
        session_.setUnitStatus(outcome_.key, text);
    }

    void markComplete(std::uint64_t length) {
        job_.progress->bytesDone.store(length);
        session_.refreshProgress(length);
    }

    Step fail(UnitFailure failure) {
        outcome_.failure = failure;
        markComplete(image_.length());
        return Step::Failed;
    }

    FirmwareUpgrade& session_;
    Context& ctx_;
    const UnitJob& job_;
    UnitOutcome outcome_;

    UnitImage image_;
    CommandPacing pacing_ = CommandPacing::Shared;
    MacAddress target_;
    std::string password_;
    EndOfTransferRecord endOfTransfer_;
    std::uint32_t blockNumber_ = 0;
    std::size_t bytesSent_ = 0;
    bool pauseTaken_ = false;
    bool bootArrived_ = false;
    std::optional<FirmwareUpgrade::NoticeWaiter> waiter_;
};

} // namespace

UnitOutcome DownloadToDevice(FirmwareUpgrade& session, const UnitJob& job) {
    if (!job.record || !job.progress)
        return {};
    UnitDownload unit(session, job);
    return unit.run();
}

} // namespace korvane
