// The writer on its own: whole outputs against the plain model.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <unistd.h>

#include "array_source.hpp"
#include "model.hpp"
#include "support.hpp"

#ifndef O_BINARY
#define O_BINARY 0 // only Windows tells binary files from text files
#endif

namespace {

struct conversion {
    array_source_result result;
    std::string output;
    off_t input_offset; // where the writer left the input
};

// Runs the writer on a file holding `bytes`, claiming `byte_count` bytes.
conversion convert(const std::vector<unsigned char>& bytes, std::uint32_t byte_count,
                   const std::string& name) {
    scratch_folder folder;
    write_file(folder.path + "/in", bytes);
    int in = open((folder.path + "/in").c_str(), O_RDONLY | O_BINARY);
    int out = open((folder.path + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
    EXPECT_GE(in, 0);
    EXPECT_GE(out, 0);
    conversion c{write_array_source(out, in, byte_count, name.c_str()), "", 0};
    c.input_offset = lseek(in, 0, SEEK_CUR);
    close(in);
    close(out);
    c.output = read_file(folder.path + "/out");
    return c;
}

conversion convert(const std::vector<unsigned char>& bytes, const std::string& name) {
    return convert(bytes, static_cast<std::uint32_t>(bytes.size()), name);
}

TEST(Writer, MatchesModelAroundRowAndBufferBoundaries) {
    const std::size_t sizes[] = {0,     1,     2,     15,    16,     17,     31,     32,
                                 33,    47,    48,    49,    255,    256,    257,    1000,
                                 65535, 65536, 65537, 65552, 131071, 131072, 131089, 300007};
    for (std::size_t n : sizes) {
        SCOPED_TRACE("size " + std::to_string(n));
        auto bytes = random_bytes(n, static_cast<unsigned>(n));
        conversion c = convert(bytes, "wave");
        EXPECT_EQ(c.result.status, array_source_status::ok);
        EXPECT_EQ(c.output.size(), model_length(n, 4));
        EXPECT_TRUE(c.output == model_array_source(bytes, "wave"));
    }
}

TEST(Writer, RandomInputsMatchModel) {
    std::mt19937 engine(2026);
    for (int i = 0; i < 300; ++i) {
        // Mostly small sizes, some spanning several of the writer's chunks.
        std::size_t n = engine() % (i % 10 == 0 ? 300000 : 2000);
        SCOPED_TRACE("size " + std::to_string(n));
        auto bytes = random_bytes(n, engine());
        std::string name = std::to_string(i);
        conversion c = convert(bytes, name);
        EXPECT_EQ(c.result.status, array_source_status::ok);
        EXPECT_TRUE(c.output == model_array_source(bytes, name));
    }
}

TEST(Writer, EveryByteValue) {
    std::vector<unsigned char> bytes;
    for (int v = 0; v < 256; ++v) {
        bytes.push_back(static_cast<unsigned char>(v));
    }
    for (int v = 255; v >= 0; --v) {
        bytes.push_back(static_cast<unsigned char>(v));
    }
    conversion c = convert(bytes, "all");
    EXPECT_EQ(c.result.status, array_source_status::ok);
    EXPECT_EQ(c.output, model_array_source(bytes, "all"));
}

TEST(Writer, HandWrittenExpectedFiles) {
    const std::string dir = CORVANE_TEST_EXPECTED;
    for (const char* name : {"wave", "empty"}) {
        SCOPED_TRACE(name);
        std::string input = read_file(dir + "/" + name);
        conversion c = convert(std::vector<unsigned char>(input.begin(), input.end()), name);
        EXPECT_EQ(c.output, read_file(dir + "/" + name + ".c"));
    }
}

TEST(Writer, ArrayNameIsWrittenVerbatim) {
    for (std::string name : {"foo.bin", "", "1-x y", "c:wave", "na\\me"}) {
        conversion c = convert({1, 2, 3}, name);
        EXPECT_EQ(c.output, model_array_source({1, 2, 3}, name));
    }
}

TEST(Writer, ReadsOnlyTheMeasuredBytesOfAGrownInput) {
    auto bytes = random_bytes(70000, 7);
    for (std::uint32_t count : {0u, 20u, 65536u, 65537u}) {
        conversion c = convert(bytes, count, "grown");
        EXPECT_EQ(c.result.status, array_source_status::ok);
        EXPECT_EQ(c.output, model_array_source({bytes.begin(), bytes.begin() + count}, "grown"));
        EXPECT_EQ(c.input_offset, static_cast<off_t>(count));
    }
}

TEST(Writer, ReportsAnInputThatEndsEarly) {
    for (std::uint32_t held : {0u, 2u, 65536u, 65600u}) {
        conversion c = convert(random_bytes(held, 1), held + 1, "short");
        EXPECT_EQ(c.result.status, array_source_status::input_ended_early) << held;
    }
}

#ifndef _WIN32
TEST(Writer, ReportsReadAndWriteErrors) {
    // Reading a folder fails with EISDIR.
    int folder = open("/", O_RDONLY | O_DIRECTORY);
    int sink = open("/dev/null", O_WRONLY);
    array_source_result r = write_array_source(sink, folder, 10, "x");
    EXPECT_EQ(r.status, array_source_status::read_failed);
    EXPECT_EQ(r.error_number, EISDIR);
    close(folder);

    // Every write to /dev/full fails with ENOSPC.
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    int zero = open("/dev/zero", O_RDONLY);
    r = write_array_source(full, zero, 10, "x");
    EXPECT_EQ(r.status, array_source_status::write_failed);
    EXPECT_EQ(r.error_number, ENOSPC);
    close(full);
    close(zero);
    close(sink);
}
#endif

} // namespace
