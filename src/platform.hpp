// The operating-system side of a run: opening and measuring the input, reading
// and writing file descriptors, and the temporary file that becomes the output.
// platform_posix.cpp and platform_windows.cpp implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Makes failures that would otherwise kill the process (a file-size limit) come
// back as failed writes, and makes an interrupted run (Ctrl-C, SIGTERM, SIGHUP,
// a closed console) remove its temporary file before it ends as interrupted.
void prepare_process();

// The system's message for an errno value.
const char* error_text(int error_number);

// Reads up to size bytes. Returns the number read, 0 at the end of the file, or
// -1 with errno set. Interrupted reads are retried.
std::ptrdiff_t read_some(int fd, void* data, std::size_t size);

// Writes all size bytes. Returns false with errno set on failure.
bool write_all(int fd, const void* data, std::size_t size);

// Asks the system to start writing the given range of fd to disk now, without
// waiting for it. Spread over a large conversion, this keeps the disk busy
// while the rest is still being formatted, instead of leaving all of it to the
// moment the finished file is renamed into place. Only advice: nothing comes
// of a failure, and where the system has no such call it does nothing.
void start_writeback(int fd, std::uint64_t offset, std::uint64_t size);

// Opens path for reading without ever blocking (a FIFO would) and measures it.
// Only regular files, or links to them, are accepted. Returns nullptr on
// success, otherwise the reason the file cannot be used as input.
const char* open_input(const char* path, int& fd, std::uint64_t& size);
void close_input(int fd);

// A file in the output's folder that receives the array source until it is
// complete. It is created with the permissions a plain create would give.
struct temp_output {
    int fd = -1;
    int folder_fd = -1; // the output's folder, where the system has folder-relative calls
    std::string name;   // relative to folder_fd, or else the whole path
};

// Each returns nullptr on success, otherwise the system's reason.
const char* create_temp_output(const std::string& output_path, temp_output& temp);
// Closes the temporary file and moves it over output_path. On failure the
// temporary file is removed and whatever was at output_path stays as it was.
const char* commit_temp_output(temp_output& temp, const std::string& output_path);
// Closes and removes the temporary file.
void discard_temp_output(temp_output& temp);

// Shared by both implementations.
// Writes up to size bytes: the number written, or -1 with errno set.
// Interrupted writes are retried.
std::ptrdiff_t write_some(int fd, const void* data, std::size_t size);
constexpr char not_regular_text[] = "not a regular file";
// The folder part of a path, separator included, or "" for the current folder.
std::string folder_of(const std::string& path);
// A short file name, so that it fits wherever the output's name fits.
std::string temp_name(unsigned attempt);
