// The frame every export of the connection-string, store and dialog functions runs in.
#pragma once

#include <exception>
#include <utility>

#include "frame/app/connect_app.h"
#include "frame/context/library_context.h"
#include "platform/last_error.h"
#include "platform/registry.h"

namespace tavix {

// Runs body with the library context current on the calling thread and the caller's context
// restored on every way out, after the library's start-up (the first call runs it). Failures are
// reported as results, never as exceptions: an exception (an allocation that failed), or a
// start-up that failed, ends the call with failureResult.
template <typename Result, typename Body>
Result RunExport(Result failureResult, Body&& body) noexcept {
    if (!EnsureStarted()) return failureResult;
    try {
        ContextGuard frame;
        return std::forward<Body>(body)();
    } catch (...) {
        return failureResult;
    }
}

// The outcome of a store export: the registry error that the thread's last error reports to
// the caller once the export has returned (0: done).
class StoreOutcome {
public:
    void Set(long error) noexcept { error_ = error; }
    // Keeps the first failure of a call.
    void Fail(long error) noexcept {
        if (error_ == 0) error_ = error;
    }
    long Get() const noexcept { return error_; }

private:
    long error_ = 0;
};

// RunExport for the store exports: body receives the call's StoreOutcome, which becomes the
// thread's last error as the last act before returning (after the caller's context is back, so
// that nothing in between changes it). A failed start-up or an exception reports kRegOutOfMemory.
template <typename Result, typename Body>
Result RunStoreExport(Result failureResult, Body&& body) noexcept {
    StoreOutcome outcome;
    bool finished = false;
    Result result = RunExport<Result>(failureResult, [&]() -> Result {
        Result bodyResult = std::forward<Body>(body)(outcome);
        finished = true;
        return bodyResult;
    });
    platform::SetThreadLastError(finished ? outcome.Get() : platform::kRegOutOfMemory);
    return result;
}

}  // namespace tavix
