// The array source writer: turns a file's bytes into a C array declaration.
#pragma once

#include <cstdint>

enum class array_source_status {
    ok,
    read_failed,       // a read of the input failed; error_number holds errno
    input_ended_early, // the input held fewer bytes than its measured size
    write_failed,      // a write to the output failed; error_number holds errno
};

struct array_source_result {
    array_source_status status;
    int error_number;
};

// Reads exactly byte_count bytes from input_fd (never more, even if the file has
// grown) and writes the whole array source to output_fd, with CR LF line ends.
// Memory use is constant: the input is streamed through fixed-size buffers.
array_source_result write_array_source(int output_fd, int input_fd, std::uint32_t byte_count,
                                       const char* array_name);
