#pragma once

// Only one copy of the utility runs per user: the first copy holds a lock
// file named after the single-instance name in the user's runtime
// directory; a second copy finds it held and ends without a word. A copy
// that died leaves a stale file that the next start takes over.

#include <QLockFile>
#include <QString>

#include <memory>

namespace korvane::ui {

class SingleInstance {
  public:
    static constexpr char kName[] = "RunOnlyOneTarnwick";

    enum class Result { Acquired, OtherCopyRuns, NoLockFile };

    // The lock file lives in `directory`; empty: the user's runtime directory.
    explicit SingleInstance(const QString& directory = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Result acquire();
    QString lockFilePath() const { return path_; }

  private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

} // namespace korvane::ui
