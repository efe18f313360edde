// platform_posix.cpp - the core's operating-system calls on POSIX systems:
// directory listing without following links, file tests, the volume query
// and syncing a file to disk.

#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <dirent.h>
#include <limits.h>
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

// A directory stream over an open folder descriptor, which it then owns;
// null (and the descriptor closed) when there is none.
static DIR *AdoptFolder(int fd)
{
    if (fd < 0)
        return nullptr;
    DIR *dir = ::fdopendir(fd);
    if (dir == nullptr)
        ::close(fd);
    return dir;
}

bool TFolderHandle::Open(const std::string &path)
{
    Close();
    dir_ = AdoptFolder(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir_ != nullptr;
}

bool TFolderHandle::OpenChild(const TFolderHandle &parent, const std::string &name, const std::string &fullPath)
{
    Close();
    // A folder whose path the system could not open by name is not opened
    // through its parent either: the walk reaches the same folders whichever
    // way each one is opened.
    if (fullPath.size() >= PATH_MAX)
        return false;
    if (!parent.dir_)
        return Open(fullPath);
    dir_ = AdoptFolder(::openat(::dirfd(static_cast<DIR *>(parent.dir_)), name.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return dir_ != nullptr;
}

void TFolderHandle::Close()
{
    if (dir_)
        ::closedir(static_cast<DIR *>(dir_));
    dir_ = nullptr;
}

bool TFolderHandle::List(std::vector<TFolderEntry> &entries)
{
    entries.clear();
    if (!dir_)
        return false;
    DIR *dir = static_cast<DIR *>(dir_);
    const int fd = ::dirfd(dir);
    while (dirent *e = ::readdir(dir)) {
        const char *name = e->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        bool isFolder = false;
        // lstat semantics throughout: a link is an entry of its own, never
        // the thing it points to.  Only a file system that does not tell
        // the entry's type costs a call here.
        if (e->d_type == DT_DIR) {
            isFolder = true;
        } else if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder = ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({name, isFolder, name[0] == '.', 0});
    }
    return true;
}

uint64_t TFolderHandle::SizeOf(const std::string &name) const
{
    struct stat st;
    if (!dir_ || ::fstatat(::dirfd(static_cast<DIR *>(dir_)), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    return S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
}

bool TFolderHandle::StatOf(const std::string &name, uint64_t &size, int64_t &modifiedTime) const
{
    struct stat st;
    if (!dir_ || ::fstatat(::dirfd(static_cast<DIR *>(dir_)), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    modifiedTime = static_cast<int64_t>(st.st_mtime);
    return true;
}

bool ListFolder(const std::string &folderPath, std::vector<TFolderEntry> &entries)
{
    TFolderHandle folder;
    if (!folder.Open(folderPath)) {
        entries.clear();
        return false;
    }
    folder.List(entries);
    for (TFolderEntry &e : entries)
        if (!e.isFolder)
            e.size = folder.SizeOf(e.name);
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
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle >= 0)
        ::posix_fadvise(handle, 0, 0, POSIX_FADV_DONTNEED);
    return handle;
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
