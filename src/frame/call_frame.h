// The frame every export of the connection-string, store and dialog functions runs in.
#pragma once

#include <exception>
#include <utility>

#include "frame/connect_app.h"
#include "frame/library_context.h"

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

}  // namespace tavix
