// platform_posix.cpp - the core's operating-system calls on POSIX systems:
// directory listing without following links, file tests, the volume query
// and syncing a file to disk.

#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <thread>

namespace tslcat::platform {

char PathSeparator()
{
    return '/';
}

bool ListFolder(const std::string &folderPath, std::vector<TFolderEntry> &entries)
{
    entries.clear();
    DIR *dir = ::opendir(folderPath.empty() ? "." : folderPath.c_str());
    if (!dir)
        return false;
    std::unique_ptr<DIR, int (*)(DIR *)> closer(dir, ::closedir);
    const int fd = ::dirfd(dir);
    while (dirent *e = ::readdir(dir)) {
        const char *name = e->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        TFolderEntry entry{name, false, name[0] == '.', 0};
        // lstat semantics throughout: a link is an entry of its own, never
        // the thing it points to.
        struct stat st;
        bool known = false;
        if (e->d_type == DT_DIR) {
            entry.isFolder = true;
            known = true;
        } else if (e->d_type == DT_LNK) {
            known = true;
        }
        if (!known || !entry.isFolder) {
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                entry.isFolder = S_ISDIR(st.st_mode);
                if (!entry.isFolder)
                    entry.size = static_cast<uint64_t>(st.st_size);
            }
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

std::string CurrentDirectory()
{
    std::string buffer(4096, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return {};
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

bool IsExistingFile(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool QueryVolume(const std::string &root, std::string &label)
{
    label.clear();
    const QString path = QFile::decodeName(QByteArray::fromStdString(root));
    QFileInfo info(path);
    if (!info.isDir() || !info.isReadable())
        return false;
    QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady())
        return false;
    if (QDir::cleanPath(storage.rootPath()) == QDir::cleanPath(info.absoluteFilePath()))
        label = QFile::encodeName(storage.name()).toStdString();
    return true;
}

bool SyncFile(int handle)
{
    return handle >= 0 && ::fsync(handle) == 0;
}

void StartWriteBack(int handle, int64_t offset, int64_t length)
{
#ifdef SYNC_FILE_RANGE_WRITE
    if (handle >= 0)
        ::sync_file_range(handle, offset, length, SYNC_FILE_RANGE_WRITE);
#else
    (void)handle, (void)offset, (void)length;
#endif
}

int HoldFile(const std::string &path)
{
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

void ReleaseHeldFile(int handle)
{
    if (handle < 0)
        return;
    try {
        std::thread([handle] { ::close(handle); }).detach();
    } catch (...) {
        ::close(handle); // no thread to be had: pay for it here
    }
}

} // namespace tslcat::platform
