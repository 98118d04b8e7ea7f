// SPDX-License-Identifier: Apache-2.0
// The three kernel services the module uses: a lock, the calling thread's numeric identifier and a
// 32-bit atomic exchange. A critical section on Windows; elsewhere a word taken by atomic exchange,
// spinning briefly and then yielding while another thread holds it.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <atomic>
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
    // The module's locks guard a map look-up and a small copy on the render threads' path, many
    // times per shaded spot: held that briefly, a contended lock is better waited for than slept
    // on, and the uncontended one costs one exchange.
    std::atomic<uint32_t> held_{0};
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
