#include "app/lib/camera_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace bayercam {

namespace {

// Locks on a file belong to the process, so a second open in this process would not see the
// first: these are the cameras this process holds.
std::mutex heldMutex;
std::set<std::string> held;  // guarded by heldMutex

std::filesystem::path lockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') return std::filesystem::path(runtime) / "bayercam";
    return std::filesystem::temp_directory_path() / ("bayercam-" + std::to_string(::getuid()));
}

// FNV-1a: a short file name for a long key.
std::string fileNameFor(const std::string& key) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    char name[40];
    std::snprintf(name, sizeof(name), "camera-%016llx.lock", static_cast<unsigned long long>(hash));
    return name;
}

Error inUse(const std::string& instancePath, pid_t holder) {
    return Error{"camera " + instancePath + " is in use by process " +
                 (holder > 0 ? std::to_string(holder) : "another process") +
                 "; it takes one process at a time"};
}

}  // namespace

Result<std::unique_ptr<CameraLock>> CameraLock::take(const std::string& instancePath,
                                                     const std::filesystem::path& store) {
    std::error_code error;
    const std::string key =
        std::filesystem::weakly_canonical(store, error).string() + "\n" + instancePath;
    {
        std::lock_guard guard(heldMutex);
        if (!held.insert(key).second) return inUse(instancePath, ::getpid());
    }
    auto release = [&key] {
        std::lock_guard guard(heldMutex);
        held.erase(key);
    };
    const std::filesystem::path folder = lockFolder();
    std::filesystem::create_directories(folder, error);
    const std::filesystem::path file = folder / fileNameFor(key);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        release();
        return Error{"cannot claim camera " + instancePath + ": " + file.string() + ": " +
                     std::strerror(errno)};
    }
    struct flock lock{};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
        struct flock holder = lock;
        const pid_t pid = ::fcntl(fd, F_GETLK, &holder) == 0 ? holder.l_pid : 0;
        ::close(fd);
        release();
        return inUse(instancePath, pid);
    }
    return std::unique_ptr<CameraLock>(new CameraLock(fd, key));
}

CameraLock::~CameraLock() {
    ::close(fd_);  // ends the lock
    std::lock_guard guard(heldMutex);
    held.erase(key_);
}

}  // namespace bayercam
