// catalog_lock.cpp - the writer lock, the backup and the restore.

#include "catalog_lock.h"

#include <QFile>
#include <QSaveFile>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "catalog_errors.h"
#include "catalog_tree.h"

namespace tslcat {

namespace {

std::string bytesOf(const QString &s)
{
    return QFile::encodeName(s).toStdString();
}

// Copies `from` to `to` the way a save writes: a temporary file beside `to`,
// synced to disk, renamed over it.
void copyFileSafely(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        throw EFOpenError(bytesOf(from));
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly))
        throw EFCreateError(bytesOf(to));
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const qint64 got = in.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (got < 0)
            throw EReadError();
        if (got == 0)
            break;
        if (out.write(buffer.data(), got) != got)
            throw EWriteError();
    }
    if (!out.flush() || !platform::SyncFile(out.handle()) || !out.commit())
        throw EWriteError();
}

} // namespace

int CatalogLockTimeoutMs()
{
    const QByteArray value = qgetenv("TSLCAT_LOCK_TIMEOUT").trimmed();
    if (value.isEmpty())
        return kDefaultLockTimeoutMs;
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 24 * 3600)
        return kDefaultLockTimeoutMs;
    return static_cast<int>(std::lround(seconds * 1000));
}

TCatalogLock::TCatalogLock(const QString &catalogFile) : catalogFile_(catalogFile), lock_(LockFileName(catalogFile))
{
    lock_.setStaleLockTime(kStaleLockMs);
}

QString TCatalogLock::LockFileName(const QString &catalogFile)
{
    return catalogFile + QStringLiteral(".lock");
}

void TCatalogLock::Acquire(int timeoutMs, const std::function<void()> &onWait)
{
    if (lock_.isLocked())
        return;
    if (lock_.tryLock(0))
        return;
    if (lock_.error() == QLockFile::LockFailedError) {
        if (onWait)
            onWait();
        if (timeoutMs > 0 && lock_.tryLock(timeoutMs))
            return;
    }
    if (lock_.error() == QLockFile::LockFailedError)
        throw ECatalogLockedError(bytesOf(catalogFile_));
    throw EFCreateError(bytesOf(LockFileName(catalogFile_)));
}

QString BackupFileName(const QString &catalogFile)
{
    return catalogFile + QStringLiteral(".bak");
}

bool WriteBackup(const QString &catalogFile)
{
    if (!QFile::exists(catalogFile))
        return false;
    copyFileSafely(catalogFile, BackupFileName(catalogFile));
    return true;
}

void RestoreBackup(const QString &catalogFile, int timeoutMs, const std::function<void()> &onWait)
{
    const QString backup = BackupFileName(catalogFile);
    if (!QFile::exists(backup))
        throw ECatalogFileError("no backup to restore: '" + bytesOf(backup) + "' is missing");
    TCatalogLock lock(catalogFile);
    lock.Acquire(timeoutMs, onWait);
    {
        // A backup that does not load would replace a catalog with garbage.
        TCatalogTree check;
        try {
            check.LoadFromFile(backup);
        } catch (const Exception &e) {
            throw ECatalogFileError("the backup '" + bytesOf(backup) + "' cannot be read (" + e.what() +
                                    "); nothing was changed");
        }
    }
    if (!QFile::exists(catalogFile)) {
        copyFileSafely(backup, catalogFile);
        return;
    }
    // Three whole-file steps, each renamed into place: the current catalog
    // is set aside first, so at every moment both catalogs exist on disk.
    const QString aside = backup + QStringLiteral(".new");
    copyFileSafely(catalogFile, aside);
    copyFileSafely(backup, catalogFile);
    copyFileSafely(aside, backup);
    QFile::remove(aside);
}

platform::TFileIdentity CatalogFileIdentity(const QString &catalogFile)
{
    return platform::IdentifyFile(bytesOf(catalogFile));
}

} // namespace tslcat
