// catalog_lock.h - one writer at a time on a catalog file, the one-generation
// backup kept before destructive changes, and restoring it.
//
// Every program that changes a catalog loads the whole file, changes it in
// memory and renames a new file over the old one.  Two such programs at once
// would each drop the other's change, so every writer takes the catalog's
// writer lock around "check, reload if changed, apply, save"; slow work such
// as scanning a disc happens before, outside the lock.  Readers (search,
// list, stats, export) take no lock: a save renames a complete file into
// place, so a reader sees the old catalog or the new one, never half of one.
//
// The lock is a QLockFile on "<catalog>.lock" beside the catalog, chosen
// over flock() for three reasons: it is Qt Core, which the core already uses,
// and works the same on Windows, where flock() has no counterpart; it works
// on network shares where byte-range and flock() locks are often missing or
// silently local; and its lock file names the holder (process id, host and
// program), so a lock left by a crashed program on this host is recognised
// and taken over at once.  What flock() gives for free, release by the
// kernel when the holder dies, QLockFile makes up for by that check, and by
// treating a lock older than kStaleLockMs as stale (a holder on another host
// that crashed); no writer holds the lock for anywhere near that long.
#pragma once

#include <QLockFile>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "platform.h"

namespace tslcat {

// How long a second writer waits for the lock unless TSLCAT_LOCK_TIMEOUT
// says otherwise.
inline constexpr int kDefaultLockTimeoutMs = 10000;
// A lock file older than this is taken to be left by a crashed program.
inline constexpr int kStaleLockMs = 5 * 60 * 1000;

// The wait for the lock in milliseconds: TSLCAT_LOCK_TIMEOUT in seconds
// (fractions allowed, "0" does not wait at all) when it is set to a valid
// number, else kDefaultLockTimeoutMs.
int CatalogLockTimeoutMs();

// The writer lock of one catalog file.  Released at destruction.
class TCatalogLock {
public:
    explicit TCatalogLock(const QString &catalogFile);
    TCatalogLock(const TCatalogLock &) = delete;
    TCatalogLock &operator=(const TCatalogLock &) = delete;

    // Takes the lock.  When another program holds it, calls `onWait` once
    // (a front end says it is waiting) and waits up to `timeoutMs`.
    // Throws ECatalogLockedError when the lock is still held after that;
    // EFCreateError when the lock file cannot be created at all (a folder
    // without write permission: the save would fail too).
    void Acquire(int timeoutMs, const std::function<void()> &onWait = {});
    void Release() { lock_.unlock(); }
    bool IsHeld() const { return lock_.isLocked(); }

    static QString LockFileName(const QString &catalogFile);

private:
    QString catalogFile_;
    QLockFile lock_;
};

// "<catalog>.bak": the catalog as it was before the last destructive change.
QString BackupFileName(const QString &catalogFile);

// Keeps the catalog file's current bytes in its backup, replacing the one
// before, written like a save (temporary file, synced, renamed), so the
// backup is never half-written.  Returns false, doing nothing, when there is
// no catalog file.  Throws EFOpenError / EFCreateError / EWriteError.
// Call it holding the lock.
bool WriteBackup(const QString &catalogFile);

// Puts the backup back as the catalog; the catalog being replaced becomes
// the new backup, so a restore can itself be undone by another restore.
// Takes the lock.  Throws ECatalogFileError when there is no backup or it
// does not load as a catalog (nothing changed then), ECatalogLockedError,
// and the file errors.  Every step writes a whole file and renames it into
// place, so a crash at any point leaves both catalogs on disk.
void RestoreBackup(const QString &catalogFile, int timeoutMs, const std::function<void()> &onWait = {});

// The identity of the catalog file as it is now (see platform::IdentifyFile):
// a program keeps the identity of the file it last loaded or saved and
// compares it before its next save to learn whether someone else wrote.
platform::TFileIdentity CatalogFileIdentity(const QString &catalogFile);

} // namespace tslcat
