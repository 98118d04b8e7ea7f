// The three kernel services the module uses: a lock, the calling thread's numeric identifier and a
// 32-bit atomic exchange. A critical section on Windows, a mutex elsewhere.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#endif

namespace velmora {

// A non-recursive lock, usable with std::lock_guard. Initialised on construction (static set-up
// for the module-wide locks) and deleted on destruction.
class PlatformLock {
public:
    PlatformLock() noexcept;
    ~PlatformLock();
    PlatformLock(const PlatformLock &) = delete;
    PlatformLock &operator=(const PlatformLock &) = delete;

    void lock() noexcept;
    void unlock() noexcept;

private:
#ifdef _WIN32
    CRITICAL_SECTION section_;
#else
    std::mutex mutex_;
#endif
};

// The operating system's identifier of the calling thread (GetCurrentThreadId, or the kernel
// thread id on Linux).
uint32_t currentThreadId() noexcept;

// Stores value into *target atomically and returns the previous value.
uint32_t atomicExchange32(volatile uint32_t *target, uint32_t value) noexcept;

// Reads *target without tearing; a plain load on every supported processor.
uint32_t atomicLoad32(const volatile uint32_t *target) noexcept;

}  // namespace velmora
