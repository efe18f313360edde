// volumes.cpp - the rules on a volume list: order, drive readiness, disc
// lookup and default disc names.  No system calls beyond Qt's file tests.

#include "volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include "catalog_names.h"
#include "catalog_search.h"
#include "platform.h"
#include "result_actions.h"

namespace tslcat {

namespace {

QString LocalPath(std::string_view bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

const TVolume *VolumeAt(const std::vector<TVolume> &volumes, const std::string &root)
{
    for (const TVolume &v : volumes)
        if (v.root == root)
            return &v;
    return nullptr;
}

} // namespace

std::string DriveRootOf(std::string_view root)
{
    const char sep = platform::PathSeparator();
    std::string out(root);
    while (out.size() > 1 && out.back() == sep)
        out.pop_back();
    if (out.empty() || out.back() != sep)
        out.push_back(sep);
    return out;
}

void OrderVolumes(std::vector<TVolume> &volumes)
{
    std::vector<TVolume> unique;
    unique.reserve(volumes.size());
    for (TVolume &v : volumes)
        if (!VolumeAt(unique, v.root))
            unique.push_back(std::move(v));
    std::stable_partition(unique.begin(), unique.end(), [](const TVolume &v) { return v.optical; });
    volumes = std::move(unique);
}

bool QueryDrive(const std::vector<TVolume> &volumes, std::string_view root, std::string &label)
{
    label.clear();
    if (root.empty())
        return false;
    const std::string key = DriveRootOf(root);
    const TVolume *volume = VolumeAt(volumes, key);
    if (!volume) {
        // A link to a mount point (Debian's /media/cdrom to /media/cdrom0)
        // is that mount point, mounted or not.
        const QString canonical = QFileInfo(LocalPath(key)).canonicalFilePath();
        if (!canonical.isEmpty())
            volume = VolumeAt(volumes, DriveRootOf(QFile::encodeName(canonical).toStdString()));
    }
    if (volume) {
        if (!volume->mounted || !volume->ready)
            return false;
        label = volume->label;
        return true;
    }
    // Any other folder serves as a drive, as typed in the drive box.
    const QFileInfo folder(LocalPath(key));
    return folder.isDir() && folder.isReadable();
}

std::string DefaultDiscName(std::string_view root, std::string_view label)
{
    if (!label.empty())
        return std::string(label);
    const QString clean = QDir::cleanPath(QFileInfo(LocalPath(root)).absoluteFilePath());
    return QFile::encodeName(QFileInfo(clean).fileName()).toStdString();
}

const TVolume *FindVolumeByLabel(const std::vector<TVolume> &volumes, std::string_view discName)
{
    const QString name = DecodeName(discName);
    for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive})
        for (const TVolume &v : volumes)
            if (v.mounted && v.ready && !v.label.empty() && DecodeName(v.label).compare(name, cs) == 0)
                return &v;
    return nullptr;
}

const TVolume *FindVolumeWithFile(const std::vector<TVolume> &volumes, const TResultRow &row, IFileProbe &files,
                                  std::string_view skipRoot)
{
    if (row.IsDiscRow())
        return nullptr;
    const std::string skip = skipRoot.empty() ? std::string() : DriveRootOf(skipRoot);
    for (const TVolume &v : volumes)
        if (v.mounted && v.ready && v.root != skip && files.FileExists(MakeActionTarget(row, v.root).target))
            return &v;
    return nullptr;
}

} // namespace tslcat
