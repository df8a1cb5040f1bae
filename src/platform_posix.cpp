#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.hpp"

namespace {

// The temporary file of this run while it exists, for the signal handler to
// remove. A signal handler can reach nothing else, hence a variable at file
// scope; it is set and cleared only with the signals blocked.
std::atomic<const temp_output*> temp_to_remove{nullptr};

constexpr int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_temp_and_end(int signal_number) {
    if (const temp_output* temp = temp_to_remove.load()) {
        unlinkat(temp->folder_fd, temp->name.c_str(), 0);
    }
    // End by the same signal, so the shell and make see an interrupted run:
    // the handler was reset on entry, and the signal is delivered again once
    // the handler returns.
    kill(getpid(), signal_number);
}

// Holds the interrupting signals back, so that the temporary file and the
// record of it change together; returns the mask to restore.
sigset_t hold_signals() {
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (int s : interrupting_signals) {
        sigaddset(&held, s);
    }
    sigprocmask(SIG_BLOCK, &held, &previous);
    return previous;
}

void release_signals(const sigset_t& previous) {
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void close_folder(temp_output& temp) {
    if (temp.folder_fd != AT_FDCWD) {
        close(temp.folder_fd);
    }
}

} // namespace

void prepare_process() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, nullptr);
    for (int s : interrupting_signals) {
        struct sigaction action {};
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (sigaction(s, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
            action.sa_handler = remove_temp_and_end;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESETHAND;
            sigaction(s, &action, nullptr);
        }
    }
}

std::ptrdiff_t read_some(int fd, void* data, std::size_t size) {
    for (;;) {
        ssize_t got = read(fd, data, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

std::ptrdiff_t write_some(int fd, const void* data, std::size_t size) {
    for (;;) {
        ssize_t done = write(fd, data, size);
        if (done >= 0 || errno != EINTR) {
            return done;
        }
    }
}

void start_writeback(int fd, std::uint64_t offset, std::uint64_t size) {
#ifdef SYNC_FILE_RANGE_WRITE
    sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(size),
                    SYNC_FILE_RANGE_WRITE);
#else
    (void)fd;
    (void)offset;
    (void)size;
#endif
}

const char* open_input(const char* path, int& fd, std::uint64_t& size) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it makes no
    // difference to reading a regular file.
    fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return error_text(errno);
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        return error_text(error);
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return S_ISDIR(info.st_mode) ? error_text(EISDIR) : not_regular_text;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return nullptr;
}

void close_input(int fd) {
    close(fd);
}

const char* create_temp_output(const std::string& output_path, temp_output& temp) {
    // The temporary file is named relative to the output's folder, so its name
    // is short however long the folder's path is.
    std::string folder = folder_of(output_path);
    temp.folder_fd = AT_FDCWD;
    if (!folder.empty()) {
#ifdef O_PATH
        temp.folder_fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
        temp.folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
        if (temp.folder_fd < 0) {
            return error_text(errno);
        }
    }
    for (unsigned attempt = 0;; ++attempt) {
        temp.name = temp_name(attempt);
        sigset_t previous = hold_signals();
        // Mode 0666 lets the umask decide, as for any newly created file.
        temp.fd = openat(temp.folder_fd, temp.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                         0666);
        int error = errno;
        if (temp.fd >= 0) {
            temp_to_remove.store(&temp);
        }
        release_signals(previous);
        if (temp.fd >= 0) {
            return nullptr;
        }
        if (error != EEXIST || attempt == 100) {
            close_folder(temp);
            return error_text(error);
        }
    }
}

const char* commit_temp_output(temp_output& temp, const std::string& output_path) {
    sigset_t previous = hold_signals();
    int error = 0;
    if (close(temp.fd) != 0 ||
        renameat(temp.folder_fd, temp.name.c_str(), AT_FDCWD, output_path.c_str()) != 0) {
        error = errno;
        unlinkat(temp.folder_fd, temp.name.c_str(), 0);
    }
    temp_to_remove.store(nullptr);
    close_folder(temp);
    release_signals(previous);
    return error == 0 ? nullptr : error_text(error);
}

void discard_temp_output(temp_output& temp) {
    sigset_t previous = hold_signals();
    close(temp.fd);
    unlinkat(temp.folder_fd, temp.name.c_str(), 0);
    temp_to_remove.store(nullptr);
    close_folder(temp);
    release_signals(previous);
}
