#include "fault_vfs.h"

#include <sqlite3.h>

namespace tavix::testing {

namespace {

struct State {
    Fault fault;
    bool armed = false;
    int counts[3] = {};
    int injected = 0;
};
State state;

sqlite3_vfs* Real() { return sqlite3_vfs_find(nullptr); }

// The error the next call of this kind answers, or SQLITE_OK to pass it on.
int Check(FaultOp op) {
    const int count = ++state.counts[static_cast<int>(op)];
    if (!state.armed || state.fault.op != op) return SQLITE_OK;
    if (count == state.fault.nth || (state.fault.persistent && count > state.fault.nth)) {
        ++state.injected;
        return state.fault.error;
    }
    return SQLITE_OK;
}

// An open file: the default VFS's file object follows this header in the same allocation.
struct FaultFile {
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* RealFile(sqlite3_file* file) { return reinterpret_cast<FaultFile*>(file)->real; }

int Close(sqlite3_file* file) { return RealFile(file)->pMethods->xClose(RealFile(file)); }
int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
    return RealFile(file)->pMethods->xRead(RealFile(file), data, amount, offset);
}
int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    if (const int error = Check(FaultOp::kWrite)) return error;
    return RealFile(file)->pMethods->xWrite(RealFile(file), data, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    if (const int error = Check(FaultOp::kTruncate)) return error;
    return RealFile(file)->pMethods->xTruncate(RealFile(file), size);
}
int Sync(sqlite3_file* file, int flags) {
    if (const int error = Check(FaultOp::kSync)) return error;
    return RealFile(file)->pMethods->xSync(RealFile(file), flags);
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    return RealFile(file)->pMethods->xFileSize(RealFile(file), size);
}
int Lock(sqlite3_file* file, int lock) { return RealFile(file)->pMethods->xLock(RealFile(file), lock); }
int Unlock(sqlite3_file* file, int lock) {
    return RealFile(file)->pMethods->xUnlock(RealFile(file), lock);
}
int CheckReservedLock(sqlite3_file* file, int* out) {
    return RealFile(file)->pMethods->xCheckReservedLock(RealFile(file), out);
}
int FileControl(sqlite3_file* file, int op, void* argument) {
    return RealFile(file)->pMethods->xFileControl(RealFile(file), op, argument);
}
int SectorSize(sqlite3_file* file) { return RealFile(file)->pMethods->xSectorSize(RealFile(file)); }
int DeviceCharacteristics(sqlite3_file* file) {
    return RealFile(file)->pMethods->xDeviceCharacteristics(RealFile(file));
}
int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
    return RealFile(file)->pMethods->xShmMap(RealFile(file), region, size, extend, out);
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
    return RealFile(file)->pMethods->xShmLock(RealFile(file), offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) { RealFile(file)->pMethods->xShmBarrier(RealFile(file)); }
int ShmUnmap(sqlite3_file* file, int deleteFlag) {
    return RealFile(file)->pMethods->xShmUnmap(RealFile(file), deleteFlag);
}
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
    return RealFile(file)->pMethods->xFetch(RealFile(file), offset, amount, out);
}
int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
    return RealFile(file)->pMethods->xUnfetch(RealFile(file), offset, page);
}

const sqlite3_io_methods kMethods = {
    3,           Close,           Read,        Write,       Truncate,      Sync,
    FileSize,    Lock,            Unlock,      CheckReservedLock, FileControl, SectorSize,
    DeviceCharacteristics, ShmMap, ShmLock,    ShmBarrier,  ShmUnmap,      Fetch,
    Unfetch,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* wrapper = reinterpret_cast<FaultFile*>(file);
    wrapper->real = reinterpret_cast<sqlite3_file*>(wrapper + 1);
    const int rc = Real()->xOpen(Real(), name, wrapper->real, flags, outFlags);
    // SQLite closes a file only when its methods are set.
    wrapper->base.pMethods = wrapper->real->pMethods != nullptr ? &kMethods : nullptr;
    return rc;
}
int Delete(sqlite3_vfs*, const char* name, int syncDir) {
    return Real()->xDelete(Real(), name, syncDir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
    return Real()->xAccess(Real(), name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return Real()->xFullPathname(Real(), name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return Real()->xDlOpen(Real(), name); }
void DlError(sqlite3_vfs*, int size, char* out) { Real()->xDlError(Real(), size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
    return Real()->xDlSym(Real(), handle, symbol);
}
void DlClose(sqlite3_vfs*, void* handle) { Real()->xDlClose(Real(), handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return Real()->xRandomness(Real(), size, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return Real()->xSleep(Real(), microseconds); }
int CurrentTime(sqlite3_vfs*, double* out) { return Real()->xCurrentTime(Real(), out); }
int GetLastError(sqlite3_vfs*, int size, char* out) {
    return Real()->xGetLastError(Real(), size, out);
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
    return Real()->xCurrentTimeInt64(Real(), out);
}

sqlite3_vfs MakeVfs() {
    sqlite3_vfs vfs{};
    vfs.iVersion = 2;
    vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + Real()->szOsFile;
    vfs.mxPathname = Real()->mxPathname;
    vfs.zName = "tavix-fault";
    vfs.xOpen = Open;
    vfs.xDelete = Delete;
    vfs.xAccess = Access;
    vfs.xFullPathname = FullPathname;
    vfs.xDlOpen = DlOpen;
    vfs.xDlError = DlError;
    vfs.xDlSym = DlSym;
    vfs.xDlClose = DlClose;
    vfs.xRandomness = Randomness;
    vfs.xSleep = Sleep;
    vfs.xCurrentTime = CurrentTime;
    vfs.xGetLastError = GetLastError;
    vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    return vfs;
}

}  // namespace

const char* FaultVfs::Name() {
    static sqlite3_vfs vfs = MakeVfs();
    static const bool registered = sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    return registered ? vfs.zName : "";
}

void FaultVfs::Arm(const Fault& fault) {
    state = State{};
    state.fault = fault;
    state.armed = true;
}

void FaultVfs::Disarm() { state = State{}; }

int FaultVfs::Count(FaultOp op) { return state.counts[static_cast<int>(op)]; }

int FaultVfs::Injected() { return state.injected; }

}  // namespace tavix::testing
