// An advisory lock on a file that stands for something else (a backup set,
// a history), shared among readers or held by one writer. Nobody waits for
// it: a lock held by another is answered at once. The lock file is made
// when missing and goes when the last holder lets go, so that a folder
// keeps only what it holds.
#pragma once

#include <QString>
#include <memory>

namespace kt::shell {

class FileLock {
  public:
    enum class Mode { Shared, Exclusive };
    enum class Outcome {
        Held,       // this holder has it
        Busy,       // another holder has it in a way that keeps this one out
        Unopenable, // the lock file cannot be made or opened (a read-only folder)
    };

    FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // Takes the lock of `lockFile`, after letting go of any lock held.
    Outcome take(const QString& lockFile, Mode mode);
    // Lets go; the lock file goes too when nobody else holds it.
    void release();
    bool held() const;

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

} // namespace kt::shell
