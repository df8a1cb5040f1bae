#include "platform.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr char not_regular_text[] = "not a regular file";

// The folder part of a path, separator included, or "" for the current folder.
std::string folder_of(const std::string& path) {
#ifdef _WIN32
    std::size_t cut = path.find_last_of("/\\:");
#else
    std::size_t cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// A short name, so that the temporary file fits wherever the output name fits.
std::string temp_name(const std::string& folder, unsigned attempt) {
    unsigned mix = static_cast<unsigned>(
#ifdef _WIN32
        _getpid()
#else
        getpid()
#endif
    );
    mix = mix * 2654435761u ^ static_cast<unsigned>(std::time(nullptr)) ^ attempt * 40503u;
    char name[32];
    std::snprintf(name, sizeof name, ".corvane-%08x.tmp", mix);
    return folder + name;
}

#ifdef _WIN32
// Windows API failures are reported in the same words as the C library's.
int errno_from_windows(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}
#endif

} // namespace

void prepare_process() {
#ifndef _WIN32
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

const char* error_text(int error_number) {
    return std::strerror(error_number);
}

std::ptrdiff_t read_some(int fd, void* data, std::size_t size) {
#ifdef _WIN32
    constexpr std::size_t most = 1u << 30;
    return _read(fd, data, static_cast<unsigned>(size < most ? size : most));
#else
    for (;;) {
        ssize_t got = read(fd, data, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
#endif
}

bool write_all(int fd, const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
#ifdef _WIN32
        constexpr std::size_t most = 1u << 30;
        int done = _write(fd, next, static_cast<unsigned>(size < most ? size : most));
#else
        ssize_t done = write(fd, next, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
#endif
        if (done < 0) {
            return false;
        }
        if (done == 0) {
            errno = ENOSPC;
            return false;
        }
        next += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

const char* open_input(const char* path, int& fd, std::uint64_t& size) {
#ifdef _WIN32
    // Windows refuses to open a folder with an unhelpful "Permission denied",
    // so look at what the path is first.
    struct _stat64 info;
    if (_stat64(path, &info) != 0) {
        return error_text(errno);
    }
    if ((info.st_mode & _S_IFMT) == _S_IFDIR) {
        return error_text(EISDIR);
    }
    if ((info.st_mode & _S_IFMT) != _S_IFREG) {
        return not_regular_text;
    }
    fd = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        return error_text(errno);
    }
    if (_fstat64(fd, &info) != 0) {
        int error = errno;
        _close(fd);
        return error_text(error);
    }
#else
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it makes no
    // difference to reading a regular file.
    fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return error_text(errno);
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        return error_text(error);
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return S_ISDIR(info.st_mode) ? error_text(EISDIR) : not_regular_text;
    }
#endif
    size = static_cast<std::uint64_t>(info.st_size);
    return nullptr;
}

void close_input(int fd) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

const char* create_temp_output(const std::string& output_path, temp_output& temp) {
    std::string folder = folder_of(output_path);
    for (unsigned attempt = 0;; ++attempt) {
        temp.path = temp_name(folder, attempt);
#ifdef _WIN32
        temp.fd =
            _open(temp.path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
#else
        // Mode 0666 lets the umask decide, as for any newly created file.
        temp.fd = open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
        if (temp.fd >= 0) {
            return nullptr;
        }
        if (errno != EEXIST || attempt == 100) {
            return error_text(errno);
        }
    }
}

const char* commit_temp_output(temp_output& temp, const std::string& output_path) {
#ifdef _WIN32
    if (_close(temp.fd) != 0) {
        int error = errno;
        _unlink(temp.path.c_str());
        return error_text(error);
    }
    DWORD attributes = GetFileAttributesA(output_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        _unlink(temp.path.c_str());
        return error_text(EISDIR);
    }
    if (!MoveFileExA(temp.path.c_str(), output_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        int error = errno_from_windows(GetLastError());
        _unlink(temp.path.c_str());
        return error_text(error);
    }
#else
    if (close(temp.fd) != 0) {
        int error = errno;
        unlink(temp.path.c_str());
        return error_text(error);
    }
    if (rename(temp.path.c_str(), output_path.c_str()) != 0) {
        int error = errno;
        unlink(temp.path.c_str());
        return error_text(error);
    }
#endif
    return nullptr;
}

void discard_temp_output(temp_output& temp) {
#ifdef _WIN32
    _close(temp.fd);
    _unlink(temp.path.c_str());
#else
    close(temp.fd);
    unlink(temp.path.c_str());
#endif
}
