#include "array_source.hpp"

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

// The input is read in chunks of whole rows so that every chunk starts a row.
constexpr std::size_t input_chunk = 64 * 1024;
static_assert(input_chunk % entries_per_row == 0);
constexpr std::size_t output_chunk =
    input_chunk * entry_size + input_chunk / entries_per_row * row_break_size;

// The text of every byte value, built at compile time.
constexpr std::array<std::array<char, entry_size>, 256> make_entries() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, entry_size>, 256> entries{};
    for (std::size_t v = 0; v < 256; ++v) {
        entries[v] = {'0', 'x', digits[v >> 4], digits[v & 15], ','};
    }
    return entries;
}
constexpr auto entries = make_entries();

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
    if (!write_all(output_fd, header_start, sizeof header_start - 1) ||
        !write_all(output_fd, array_name, std::strlen(array_name)) ||
        !write_all(output_fd, header_end, sizeof header_end - 1)) {
        return write_failure();
    }

    auto input = std::make_unique<unsigned char[]>(input_chunk);
    auto output = std::make_unique<char[]>(output_chunk);
    std::uint32_t written = 0; // entries written so far
    while (written < byte_count) {
        std::size_t count = byte_count - written;
        if (count > input_chunk) {
            count = input_chunk;
        }
        array_source_result read = read_exactly(input_fd, input.get(), count);
        if (read.status != array_source_status::ok) {
            return read;
        }
        char* out = output.get();
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(out, entries[input[i]].data(), entry_size);
            out += entry_size;
            ++written;
            // A row break follows every 16th entry except the very last one.
            if (written % entries_per_row == 0 && written < byte_count) {
                std::memcpy(out, row_break, row_break_size);
                out += row_break_size;
            }
        }
        if (!write_all(output_fd, output.get(), static_cast<std::size_t>(out - output.get()))) {
            return write_failure();
        }
    }

    if (!write_all(output_fd, trailer, sizeof trailer - 1)) {
        return write_failure();
    }
    return {array_source_status::ok, 0};
}
