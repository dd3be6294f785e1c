// An SQLite VFS for tests that makes chosen writes, syncs or truncations fail, as a full or
// failing disk would.
//
// It is registered under its own name (never as the default) and passes every call to the
// default VFS. Once armed, it counts the calls of the armed kind over every file opened
// through it; the nth answers the armed error without reaching the file, and, when the fault
// is persistent, so does every later one until it is disarmed (a disk that stays full).
#pragma once

namespace tavix::testing {

enum class FaultOp { kWrite, kSync, kTruncate };

struct Fault {
    FaultOp op = FaultOp::kWrite;
    int nth = 1;  // counted from 1
    int error = 0;  // an SQLite result code: SQLITE_FULL, SQLITE_IOERR_WRITE, ...
    bool persistent = false;
};

class FaultVfs {
public:
    // The VFS's name for sqlite3_open_v2; registers it at the first call.
    static const char* Name();

    // Starts counting from zero with this fault; Disarm() counts on without one.
    static void Arm(const Fault& fault);
    static void Disarm();

    // The calls of one kind since the last Arm or Disarm, failed ones included.
    static int Count(FaultOp op);
    // The calls failed since the last Arm or Disarm.
    static int Injected();
};

}  // namespace tavix::testing
