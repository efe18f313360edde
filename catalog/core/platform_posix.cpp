// platform_posix.cpp - the core's operating-system calls on POSIX systems:
// directory listing without following links, file tests and syncing a file
// to disk.

#include "platform.h"

#include <dirent.h>
#include <limits.h>
#include <locale.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
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
        bool isLink = e->d_type == DT_LNK;
        // lstat semantics throughout: a link is an entry of its own, never
        // the thing it points to.  Only a file system that does not tell
        // the entry's type costs a call here.
        if (e->d_type == DT_DIR) {
            isFolder = true;
        } else if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                isFolder = S_ISDIR(st.st_mode);
                isLink = S_ISLNK(st.st_mode);
            }
        }
        entries.push_back({name, isFolder, name[0] == '.', 0, isLink, 0});
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

static void FillFromStat(const struct stat &st, TFolderEntry &entry)
{
    entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    entry.modified = static_cast<int64_t>(st.st_mtime);
    entry.isLink = S_ISLNK(st.st_mode);
}

bool TFolderHandle::Describe(TFolderEntry &entry) const
{
    struct stat st;
    if (!dir_ || ::fstatat(::dirfd(static_cast<DIR *>(dir_)), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    FillFromStat(st, entry);
    return true;
}

bool DescribePath(const std::string &path, TFolderEntry &entry)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    FillFromStat(st, entry);
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

TUtf8TextScope::TUtf8TextScope()
{
    locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    if (utf8 == locale_t(0))
        return;
    locale_ = utf8;
    previous_ = ::uselocale(utf8);
}

TUtf8TextScope::~TUtf8TextScope()
{
    if (!locale_)
        return;
    ::uselocale(static_cast<locale_t>(previous_));
    ::freelocale(static_cast<locale_t>(locale_));
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

namespace {

// The one thread that closes held files.  Closing the last name of a large
// file frees all its blocks, which can take long; the save that replaced it
// does not wait for that.  A queue keeps the thread count at one however
// fast saves follow each other.
class TCloser {
public:
    ~TCloser()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (worker_.joinable())
            worker_.join();
    }

    void Close(int handle)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!worker_.joinable() && !stopping_) {
            try {
                worker_ = std::thread([this] { Run(); });
            } catch (...) {
                lock.unlock();
                ::close(handle); // no thread to be had: pay for it here
                return;
            }
        }
        if (stopping_) {
            lock.unlock();
            ::close(handle);
            return;
        }
        queue_.push_back(handle);
        lock.unlock();
        wake_.notify_one();
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return; // stopping, nothing left
            const int handle = queue_.front();
            queue_.pop_front();
            lock.unlock();
            ::close(handle);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<int> queue_;
    std::thread worker_;
    bool stopping_ = false;
};

} // namespace

void ReleaseHeldFile(int handle)
{
    if (handle < 0)
        return;
    static TCloser closer;
    closer.Close(handle);
}

TFileIdentity IdentifyFile(const std::string &path)
{
    TFileIdentity id;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return id;
    id.exists = true;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.file = static_cast<uint64_t>(st.st_ino);
    id.size = static_cast<int64_t>(st.st_size);
    id.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

} // namespace tslcat::platform
