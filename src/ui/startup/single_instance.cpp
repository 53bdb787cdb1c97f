#include "startup/single_instance.hpp"

#include <QDir>
#include <QStandardPaths>

namespace korvane::ui {

SingleInstance::SingleInstance(const QString& directory) {
    const QString dir = directory.isEmpty()
                            ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                            : directory;
    path_ = QDir(dir).filePath(QString::fromLatin1(kName) + QStringLiteral(".lock"));
    lock_ = std::make_unique<QLockFile>(path_);
    // A live holder keeps the lock however long it runs; only a dead
    // holder's file counts as stale.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Result SingleInstance::acquire() {
    if (lock_->isLocked() || lock_->tryLock(0)) {
        return Result::Acquired;
    }
    return lock_->error() == QLockFile::LockFailedError ? Result::OtherCopyRuns
                                                        : Result::NoLockFile;
}

} // namespace korvane::ui
