// SPDX-License-Identifier: Apache-2.0
#include "base/platform.h"

#ifndef _WIN32
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace velmora {

#ifdef _WIN32

PlatformLock::PlatformLock() noexcept { InitializeCriticalSection(&section_); }
PlatformLock::~PlatformLock() { DeleteCriticalSection(&section_); }
void PlatformLock::lock() noexcept { EnterCriticalSection(&section_); }
void PlatformLock::unlock() noexcept { LeaveCriticalSection(&section_); }

uint32_t currentThreadId() noexcept { return static_cast<uint32_t>(GetCurrentThreadId()); }

uint32_t atomicExchange32(volatile uint32_t *target, uint32_t value) noexcept {
    return static_cast<uint32_t>(
        InterlockedExchange(reinterpret_cast<volatile LONG *>(target), static_cast<LONG>(value)));
}

#else

PlatformLock::PlatformLock() noexcept = default;
PlatformLock::~PlatformLock() = default;

void PlatformLock::lock() noexcept {
    int spins = 0;
    while (held_.exchange(1, std::memory_order_acquire) != 0) {
        while (held_.load(std::memory_order_relaxed) != 0) {
            if (++spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            } else {
                sched_yield();  // the holder may have been preempted
                spins = 0;
            }
        }
    }
}

void PlatformLock::unlock() noexcept { held_.store(0, std::memory_order_release); }

// The kernel id never changes for a thread, so it is asked once per thread: the ray-state look-up
// names its blocks with it twice per shaded spot.
uint32_t currentThreadId() noexcept {
    thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
    return id;
}

uint32_t atomicExchange32(volatile uint32_t *target, uint32_t value) noexcept {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

#endif

uint32_t atomicLoad32(const volatile uint32_t *target) noexcept {
#ifdef _WIN32
    return *target;  // aligned 32-bit loads do not tear on x86
#else
    return __atomic_load_n(target, __ATOMIC_RELAXED);
#endif
}

}  // namespace velmora
