// The writer alone, reading a cached file and writing to /dev/null, so the
// figure is the cost of reading and formatting, in bytes of input per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "array_source.hpp"

namespace {

void write_array_source_to_null(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    char path[] = "/tmp/corvane-bench-XXXXXX";
    int in = mkstemp(path);
    unlink(path);
    std::vector<unsigned char> bytes(size);
    std::mt19937 engine(1);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(engine());
    }
    if (in < 0 || write(in, bytes.data(), size) != static_cast<ssize_t>(size)) {
        state.SkipWithError("cannot make the input file");
        return;
    }
    int out = open("/dev/null", O_WRONLY);
    for (auto _ : state) {
        lseek(in, 0, SEEK_SET);
        array_source_result r =
            write_array_source(out, in, static_cast<std::uint32_t>(size), "wave");
        if (r.status != array_source_status::ok) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    close(out);
    close(in);
}

BENCHMARK(write_array_source_to_null)
    ->Arg(20)
    ->Arg(4096)
    ->Arg(16 << 20)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
