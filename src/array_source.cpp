#include "array_source.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform.hpp"

namespace {

constexpr char header_start[] = "//WAVE FOR GAME BOY\r\n\r\nconst unsigned char ";
constexpr char header_end[] = "[] =\r\n{\r\n\t";
constexpr char row_break[] = "\r\n\t";
constexpr char trailer[] = "\r\n};";

constexpr std::size_t entry_size = 5; // "0xAB,"
constexpr std::size_t entries_per_row = 16;
constexpr std::size_t row_break_size = sizeof row_break - 1;
constexpr std::size_t row_size = entries_per_row * entry_size + row_break_size;

// The input is read in chunks of whole rows so that every chunk starts a row.
constexpr std::size_t input_chunk = std::size_t{64} * 1024;
static_assert(input_chunk % entries_per_row == 0);

// How much written output is handed to the disk at a time (see start_writeback).
constexpr std::uint64_t writeback_step = std::uint64_t{8} << 20;

// Each entry's text padded to 8 bytes: entries are copied 8 bytes at a time
// (one load and one store) and the 3 bytes of padding are overwritten by the
// next entry, so the output buffer needs that much room to spare.
constexpr std::size_t entry_stride = 8;
constexpr std::size_t spare = entry_stride;

constexpr std::array<std::array<char, entry_stride>, 256> make_entries() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, entry_stride>, 256> table{};
    for (std::size_t v = 0; v < 256; ++v) {
        table[v] = {'0', 'x', digits[v >> 4], digits[v & 15], ',', 0, 0, 0};
    }
    return table;
}
constexpr auto entries = make_entries();

// Bytes of output for `count` entries that start a row, row break included
// after every full row.
constexpr std::size_t formatted_size(std::size_t count) {
    return count * entry_size + count / entries_per_row * row_break_size;
}

// Writes the entries for `count` bytes that start a row, with a row break
// after every full row, and returns the end of the text.
char* format_entries(const unsigned char* in, std::size_t count, char* out) {
    for (; count >= entries_per_row; count -= entries_per_row) {
        for (std::size_t i = 0; i < entries_per_row; ++i) {
            std::memcpy(out + i * entry_size, entries[in[i]].data(), entry_stride);
        }
        std::memcpy(out + entries_per_row * entry_size, row_break, row_break_size);
        in += entries_per_row;
        out += row_size;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(out, entries[in[i]].data(), entry_stride);
        out += entry_size;
    }
    return out;
}

array_source_result write_failure() {
    return {array_source_status::write_failed, errno};
}

// Reads exactly size bytes unless the file ends or a read fails first.
array_source_result read_exactly(int fd, unsigned char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        std::ptrdiff_t got = read_some(fd, data + done, size - done);
        if (got < 0) {
            return {array_source_status::read_failed, errno};
        }
        if (got == 0) {
            return {array_source_status::input_ended_early, 0};
        }
        done += static_cast<std::size_t>(got);
    }
    return {array_source_status::ok, 0};
}

} // namespace

array_source_result write_array_source(int output_fd, int input_fd, std::uint32_t byte_count,
                                       const char* array_name) {
    // One allocation holds the input chunk and the output text of a chunk, the
    // header in front of the first chunk's text and the trailer after the last;
    // a small input gets a buffer no larger than it needs.
    const std::size_t name_size = std::strlen(array_name);
    const std::size_t header_size = sizeof header_start - 1 + name_size + sizeof header_end - 1;
    const std::size_t chunk = byte_count < input_chunk ? byte_count : input_chunk;
    const std::size_t output_capacity =
        header_size + formatted_size(chunk) + sizeof trailer - 1 + spare;
    auto buffer = std::make_unique_for_overwrite<char[]>(chunk + output_capacity);
    auto* const input = reinterpret_cast<unsigned char*>(buffer.get());
    char* const output = buffer.get() + chunk;

    char* out = output;
    auto append = [&out](const char* text, std::size_t size) {
        std::memcpy(out, text, size);
        out += size;
    };
    append(header_start, sizeof header_start - 1);
    append(array_name, name_size);
    append(header_end, sizeof header_end - 1);

    std::uint32_t remaining = byte_count;
    std::uint64_t written = 0;     // bytes of output written so far
    std::uint64_t handed_over = 0; // of which the disk was asked to take
    do {
        const std::size_t count = std::min<std::size_t>(remaining, chunk);
        array_source_result read = read_exactly(input_fd, input, count);
        if (read.status != array_source_status::ok) {
            return read;
        }
        out = format_entries(input, count, out);
        remaining -= static_cast<std::uint32_t>(count);
        if (remaining == 0) {
            // No row break after the very last entry, even when it ends a row.
            if (byte_count % entries_per_row == 0 && byte_count != 0) {
                out -= row_break_size;
            }
            append(trailer, sizeof trailer - 1);
        }
        const auto size = static_cast<std::size_t>(out - output);
        if (!write_all(output_fd, output, size)) {
            return write_failure();
        }
        written += size;
        if (written - handed_over >= writeback_step) {
            start_writeback(output_fd, handed_over, written - handed_over);
            handed_over = written;
        }
        out = output;
    } while (remaining != 0);
    return {array_source_status::ok, 0};
}
