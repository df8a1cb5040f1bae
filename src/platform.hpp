// The operating-system side of a run: opening and measuring the input, reading
// and writing file descriptors, and the temporary file that becomes the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Makes failures that would otherwise kill the process (a file-size limit) come
// back as failed writes, so they are reported and cleaned up like any other.
void prepare_process();

// The system's message for an errno value.
const char* error_text(int error_number);

// Reads up to size bytes. Returns the number read, 0 at the end of the file, or
// -1 with errno set. Interrupted reads are retried.
std::ptrdiff_t read_some(int fd, void* data, std::size_t size);

// Writes all size bytes. Returns false with errno set on failure.
bool write_all(int fd, const void* data, std::size_t size);

// Opens path for reading without ever blocking (a FIFO would) and measures it.
// Only regular files, or links to them, are accepted. Returns nullptr on
// success, otherwise the reason the file cannot be used as input.
const char* open_input(const char* path, int& fd, std::uint64_t& size);
void close_input(int fd);

// A file beside the output path that receives the array source until it is
// complete. It is created with the permissions a plain create would give.
struct temp_output {
    int fd;
    std::string path;
};

// Each returns nullptr on success, otherwise the system's reason.
const char* create_temp_output(const std::string& output_path, temp_output& temp);
// Closes the temporary file and moves it over output_path. On failure the
// temporary file is removed and whatever was at output_path stays as it was.
const char* commit_temp_output(temp_output& temp, const std::string& output_path);
// Closes and removes the temporary file.
void discard_temp_output(temp_output& temp);
