#pragma once
// The per-instance access flag: 0 free, n > 0 held by n shared accesses,
// -1 held by one exclusive access. It only guards against re-entry from
// Python code that runs while a call holds the object (an argument's
// __float__ or timestamp()), since every call holds the interpreter lock.
#include <atomic>
#include <cstdint>

#include "core/messages.hpp"
#include "py.hpp"

namespace tessel::py {

using AccessFlag = std::atomic<std::int64_t>;

enum class Access { Shared, Exclusive };

class AccessGuard {
public:
    AccessGuard() = default;
    AccessGuard(const AccessGuard&) = delete;
    AccessGuard& operator=(const AccessGuard&) = delete;
    ~AccessGuard() { release(); }

    // False with RuntimeError set when the object is held in a conflicting way.
    bool acquire(AccessFlag& flag, Access mode) noexcept {
        if (mode == Access::Exclusive) {
            std::int64_t expected = 0;
            if (!flag.compare_exchange_strong(expected, -1, std::memory_order_acquire)) {
                PyErr_SetString(PyExc_RuntimeError, messages::ALREADY_BORROWED);
                return false;
            }
        } else {
            std::int64_t n = flag.load(std::memory_order_relaxed);
            do {
                if (n == -1) {
                    PyErr_SetString(PyExc_RuntimeError, messages::ALREADY_MUTABLY_BORROWED);
                    return false;
                }
            } while (!flag.compare_exchange_weak(n, n + 1, std::memory_order_acquire));
        }
        flag_ = &flag;
        mode_ = mode;
        return true;
    }

    void release() noexcept {
        if (flag_ == nullptr) return;
        if (mode_ == Access::Exclusive)
            flag_->store(0, std::memory_order_release);
        else
            flag_->fetch_sub(1, std::memory_order_release);
        flag_ = nullptr;
    }

private:
    AccessFlag* flag_ = nullptr;
    Access mode_ = Access::Shared;
};

}  // namespace tessel::py
