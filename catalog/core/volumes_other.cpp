// volumes_other.cpp - the system's volumes where there is no mount table to
// watch: Qt's storage information, optical discs told apart by their file
// system, and the list compared once a second for changes.

#include "volumes.h"

#include <QFile>
#include <QStorageInfo>
#include <QTimer>

namespace tslcat {

struct TSystemVolumeList::Watcher {
    std::unique_ptr<QTimer> timer;
    std::vector<std::pair<std::string, std::string>> seen; // root, label
};

TSystemVolumeList::TSystemVolumeList() = default;
TSystemVolumeList::~TSystemVolumeList() = default;

std::vector<TVolume> TSystemVolumeList::Volumes()
{
    std::vector<TVolume> volumes;
    for (const QStorageInfo &storage : QStorageInfo::mountedVolumes()) {
        TVolume v;
        v.root = DriveRootOf(QFile::encodeName(storage.rootPath()).toStdString());
        v.label = QFile::encodeName(storage.name()).toStdString();
        v.device = storage.device().toStdString();
        v.fileSystem = storage.fileSystemType().toStdString();
        v.ready = storage.isValid() && storage.isReady();
        v.optical = v.fileSystem == "CDFS" || v.fileSystem == "UDF" || v.fileSystem == "cd9660" ||
            v.fileSystem == "udf" || v.fileSystem == "iso9660";
        volumes.push_back(std::move(v));
    }
    OrderVolumes(volumes);
    return volumes;
}

void TSystemVolumeList::Watch(std::function<void()> changed)
{
    if (m_watcher || !changed)
        return;
    m_watcher = std::make_unique<Watcher>();
    auto snapshot = [this] {
        std::vector<std::pair<std::string, std::string>> now;
        for (const TVolume &v : Volumes())
            now.emplace_back(v.root, v.label);
        return now;
    };
    m_watcher->seen = snapshot();
    m_watcher->timer = std::make_unique<QTimer>();
    m_watcher->timer->setInterval(1000);
    QObject::connect(m_watcher->timer.get(), &QTimer::timeout, m_watcher->timer.get(), [this, snapshot, changed] {
        auto now = snapshot();
        if (now != m_watcher->seen) {
            m_watcher->seen = std::move(now);
            changed();
        }
    });
    m_watcher->timer->start();
}

} // namespace tslcat
