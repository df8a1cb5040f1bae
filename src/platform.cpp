#include "platform.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

bool write_all(int fd, const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        std::ptrdiff_t done = write_some(fd, next, size);
        if (done < 0) {
            return false;
        }
        if (done == 0) { // no progress and no reason given: treat it as a full disk
            errno = ENOSPC;
            return false;
        }
        next += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

const char* error_text(int error_number) {
    return std::strerror(error_number);
}

std::string folder_of(const std::string& path) {
#ifdef _WIN32
    std::size_t cut = path.find_last_of("/\\:");
#else
    std::size_t cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string temp_name(unsigned attempt) {
    // Different for runs at the same time (process id) and for runs that reuse
    // a process id (clock); creation with O_EXCL settles any collision.
    auto ticks = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    unsigned mix = static_cast<unsigned>(getpid()) * 2654435761u ^ ticks ^ attempt * 40503u;
    std::string name = ".corvane-00000000.tmp";
    for (std::size_t i = 16; i >= 9; --i, mix >>= 4) {
        name[i] = "0123456789abcdef"[mix & 15];
    }
    return name;
}
