// A slim reader/writer lock held for one scope, shared or exclusive. The
// platform's lock: it allocates nothing and takes nothing from the thread
// runtime, so the library may be loaded and unloaded any number of times.
#pragma once

#include <windows.h>

class SrwGuard {
public:
    enum Mode { Shared, Exclusive };

    explicit SrwGuard(SRWLOCK& lock, Mode mode = Exclusive) : m_lock(lock), m_mode(mode)
    {
        if (m_mode == Shared)
            AcquireSRWLockShared(&m_lock);
        else
            AcquireSRWLockExclusive(&m_lock);
    }
    ~SrwGuard()
    {
        if (m_mode == Shared)
            ReleaseSRWLockShared(&m_lock);
        else
            ReleaseSRWLockExclusive(&m_lock);
    }
    SrwGuard(const SrwGuard&) = delete;
    SrwGuard& operator=(const SrwGuard&) = delete;

private:
    SRWLOCK& m_lock;
    const Mode m_mode;
};
