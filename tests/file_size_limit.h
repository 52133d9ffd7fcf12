#pragma once
// Makes writes to regular files fail past a few bytes, as a full disk would, for the lifetime
// of the object: lowers the process's file size limit and ignores the signal that exceeding it
// raises, so write() reports EFBIG instead. Unlike a read-only folder it also works for root.
// Pipes and terminals are not affected; output to a file is, so keep the scope to the call
// under test and check its result afterwards.

#include <sys/resource.h>

#include <csignal>

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        if (getrlimit(RLIMIT_FSIZE, &previous_) != 0) {
            return;
        }
        rlimit lowered = previous_;
        lowered.rlim_cur = bytes;
        active_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        if (active_) {
            setrlimit(RLIMIT_FSIZE, &previous_);
        }
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Active() const { return active_; }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool active_ = false;
};
