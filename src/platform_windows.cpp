#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform.hpp"

namespace {

// The temporary file of this run while it exists, for the console handler to
// remove; the handler runs on a thread of its own and can reach nothing else.
std::atomic<const temp_output*> temp_to_remove{nullptr};

BOOL WINAPI remove_temp_on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        if (const temp_output* temp = temp_to_remove.exchange(nullptr)) {
            // The file was opened with FILE_SHARE_DELETE, so it goes as soon as
            // the process ends and closes it.
            DeleteFileA(temp->name.c_str());
        }
    }
    return FALSE; // the default handler then ends the process as interrupted
}

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
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}

constexpr std::size_t most_per_call = 1u << 30;

} // namespace

void prepare_process() {
    SetConsoleCtrlHandler(remove_temp_on_console_event, TRUE);
}

std::ptrdiff_t read_some(int fd, void* data, std::size_t size) {
    return _read(fd, data, static_cast<unsigned>(size < most_per_call ? size : most_per_call));
}

std::ptrdiff_t write_some(int fd, const void* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(size < most_per_call ? size : most_per_call));
}

void start_writeback(int, std::uint64_t, std::uint64_t) {}

const char* open_input(const char* path, int& fd, std::uint64_t& size) {
    // Windows refuses to open a folder with an unhelpful "Permission denied",
    // so look at what the path is first.
    struct _stat64 info {};
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
    size = static_cast<std::uint64_t>(info.st_size);
    return nullptr;
}

void close_input(int fd) {
    _close(fd);
}

const char* create_temp_output(const std::string& output_path, temp_output& temp) {
    // Here the name holds the whole path: Windows has no folder-relative calls.
    const std::string folder = folder_of(output_path);
    for (unsigned attempt = 0;; ++attempt) {
        temp.name = folder + temp_name(attempt);
        HANDLE file =
            CreateFileA(temp.name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            temp.fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
            if (temp.fd < 0) {
                CloseHandle(file);
                DeleteFileA(temp.name.c_str());
                return error_text(EMFILE);
            }
            temp_to_remove.store(&temp);
            return nullptr;
        }
        int error = errno_from_windows(GetLastError());
        if (error != EEXIST || attempt == 100) {
            return error_text(error);
        }
    }
}

const char* commit_temp_output(temp_output& temp, const std::string& output_path) {
    int error = 0;
    if (_close(temp.fd) != 0) {
        error = errno;
    } else {
        DWORD attributes = GetFileAttributesA(output_path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            error = EISDIR;
        } else if (!MoveFileExA(temp.name.c_str(), output_path.c_str(),
                                MOVEFILE_REPLACE_EXISTING)) {
            error = errno_from_windows(GetLastError());
        }
    }
    temp_to_remove.store(nullptr);
    if (error != 0) {
        DeleteFileA(temp.name.c_str());
        return error_text(error);
    }
    return nullptr;
}

void discard_temp_output(temp_output& temp) {
    _close(temp.fd);
    temp_to_remove.store(nullptr);
    DeleteFileA(temp.name.c_str());
}
