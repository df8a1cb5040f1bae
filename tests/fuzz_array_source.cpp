// libFuzzer target for the writer: random bytes, a random array name and a
// claimed byte count that may be smaller than the data (the file grew after it
// was measured) or larger (it shrank). Every result is checked against the
// plain model: the exact array source when the data suffices, a reported
// early end otherwise.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "array_source.hpp"
#include "model.hpp"

namespace {

int memory_file(const void* data, std::size_t size) {
    int fd = memfd_create("corvane-fuzz", 0);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        std::abort();
    }
    return fd;
}

std::string contents(int fd) {
    std::string text;
    char chunk[65536];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Layout: 2 bytes of claimed count, 1 byte of name length, the name, the file.
    if (size < 3) {
        return 0;
    }
    const unsigned claim = data[0] | data[1] << 8;
    std::size_t name_size = data[2] % 16;
    data += 3;
    size -= 3;
    name_size = name_size < size ? name_size : size;
    std::string name;
    for (std::size_t i = 0; i < name_size; ++i) {
        name += data[i] == 0 ? '0' : static_cast<char>(data[i]);
    }
    data += name_size;
    size -= name_size;
    // Claims reach a little past the data so that both outcomes are common.
    const auto claimed = static_cast<std::uint32_t>(claim % (size + 40));

    int in = memory_file(data, size);
    int out = memory_file(nullptr, 0);
    array_source_result result = write_array_source(out, in, claimed, name.c_str());
    if (claimed <= size) {
        std::vector<unsigned char> bytes(data, data + claimed);
        if (result.status != array_source_status::ok ||
            contents(out) != model_array_source(bytes, name) ||
            lseek(in, 0, SEEK_CUR) != static_cast<off_t>(claimed)) {
            std::abort();
        }
    } else if (result.status != array_source_status::input_ended_early) {
        std::abort();
    }
    close(in);
    close(out);
    return 0;
}
