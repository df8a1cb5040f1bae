// The Windows program as a Windows user runs it, under Wine in CI: the command
// line is given as typed, so quoting and wildcard expansion are the C
// runtime's. Checks exit status, the exact bytes of standard error and output,
// and which files exist afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <windows.h>

#include "model.hpp"
#include "support.hpp"

namespace {

// Standard error is a text stream on Windows: each line break reaches it as CR LF.
const std::string usage_text =
    "corvane - convert binary files to c language for GBDK\r\nusage: tessik foo.bin";
const std::string open_failure = "mulbray: could not open sav file";

struct run_result {
    DWORD status;
    std::string out;
    std::string err;
};

// corvane.exe sits beside this test program.
std::string program_path() {
    char path[MAX_PATH];
    DWORD size = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return (std::filesystem::path(std::string(path, size)).parent_path() / "corvane.exe").string();
}

class WindowsCommandLine : public ::testing::Test {
  protected:
    scratch_folder work;
    scratch_folder streams;

    std::string at(const std::string& name) const {
        return work.path + "\\" + name;
    }

    // Runs corvane.exe with `arguments` exactly as they would be typed.
    run_result run(const std::string& arguments) {
        std::string out_path = streams.path + "\\out";
        std::string err_path = streams.path + "\\err";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        auto create = [&](const std::string& path) {
            return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr);
        HANDLE out = create(out_path);
        HANDLE err = create(err_path);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = err;
        PROCESS_INFORMATION process{};
        std::string command = "\"";
        command += program_path();
        command += '"';
        if (!arguments.empty()) {
            command += ' ';
            command += arguments;
        }
        BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      work.path.c_str(), &startup, &process);
        CloseHandle(in);
        CloseHandle(out);
        CloseHandle(err);
        EXPECT_TRUE(started) << command;
        DWORD status = 255;
        if (started) {
            EXPECT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
            GetExitCodeProcess(process.hProcess, &status);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        return {status, read_file(out_path), read_file(err_path)};
    }

    void expect_failure(const std::string& arguments, const std::string& err) {
        auto before = snapshot(work.path);
        run_result r = run(arguments);
        EXPECT_EQ(r.status, 1u);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(snapshot(work.path), before);
    }

    std::set<std::string> names() {
        std::set<std::string> found;
        for (const auto& [name, contents] : snapshot(work.path)) {
            found.insert(name);
        }
        return found;
    }
};

TEST_F(WindowsCommandLine, WritesExactBytesWithOneCrLfPerLineEnd) {
    // Bytes that a text-mode stream would mangle: CR, LF and Ctrl-Z.
    std::vector<unsigned char> bytes = {0x0D, 0x0A, 0x1A, 0x0D, 0x0D, 0x0A, 0xFF, 0x00};
    auto more = random_bytes(100, 5);
    bytes.insert(bytes.end(), more.begin(), more.end());
    write_file(at("wave"), bytes);
    run_result r = run("wave");
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    std::string output = read_file(at("wave.c"));
    EXPECT_EQ(output, model_array_source(bytes, "wave"));
    EXPECT_EQ(output.find("\r\r"), std::string::npos);
    EXPECT_EQ(output.size(), model_length(bytes.size(), 4));
}

struct conversion_case {
    std::string file;   // the input to create, relative to the folder
    std::string typed;  // the argument as typed on the command line
    std::string output; // where the array source must land
    std::string array_name;
};

TEST_F(WindowsCommandLine, ConvertsWithTheRightNameAndPlace) {
    const conversion_case cases[] = {
        {"foo.bin", "foo.bin", "foo.bin.c", "foo.bin"},
        {"sub\\foo.bin", "sub\\foo.bin", "sub\\foo.bin.c", "foo.bin"},
        {"sub\\foo.bin", "sub/foo.bin", "sub\\foo.bin.c", "foo.bin"},
        {"sub\\deeper\\x", "sub/deeper\\x", "sub\\deeper\\x.c", "x"},
        {"sub\\foo.bin", ".\\sub\\foo.bin", "sub\\foo.bin.c", "foo.bin"},
        {"my wave", "\"my wave\"", "my wave.c", "my wave"},
        {"-dash", "-dash", "-dash.c", "-dash"},
    };
    unsigned seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        scratch_folder folder;
        work.path.swap(folder.path);
        std::filesystem::create_directories(at("sub\\deeper"));
        auto bytes = random_bytes(20 + seed, seed);
        ++seed;
        write_file(at(c.file), bytes);
        run_result r = run(c.typed);
        EXPECT_EQ(r.status, 0u);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(at(c.output)), model_array_source(bytes, c.array_name));
        EXPECT_EQ(names(), (std::set<std::string>{"sub", "sub\\deeper", c.file, c.output}));
        work.path.swap(folder.path);
    }
}

TEST_F(WindowsCommandLine, WildcardsConvertTheFirstMatchInCaseInsensitiveOrder) {
    for (const char* name : {"b.bin", "A.bin", "c.BIN", "notes.txt"}) {
        write_file(at(name), std::string(name));
    }
    std::filesystem::create_directory(at("sub"));
    write_file(at("sub\\Z.bin"), "z");
    write_file(at("sub\\y.bin"), "y");

    EXPECT_EQ(run("*.bin").status, 0u);
    EXPECT_EQ(read_file(at("A.bin.c")), model_array_source({'A', '.', 'b', 'i', 'n'}, "A.bin"));
    EXPECT_EQ(run("sub\\?.BIN").status, 0u);
    EXPECT_EQ(read_file(at("sub\\y.bin.c")), model_array_source({'y'}, "y.bin"));
    EXPECT_EQ(names(), (std::set<std::string>{"A.bin", "A.bin.c", "b.bin", "c.BIN", "notes.txt",
                                              "sub", "sub\\Z.bin", "sub\\y.bin", "sub\\y.bin.c"}));

    // A pattern with no match reaches the program as typed.
    expect_failure("*.none", open_failure + "*.none: No such file or directory\r\n");
    expect_failure("sub\\*.none", open_failure + "sub\\*.none: No such file or directory\r\n");
}

TEST_F(WindowsCommandLine, UsageAndFailures) {
    expect_failure("", usage_text);
    expect_failure("missing.bin", open_failure + "missing.bin: No such file or directory\r\n");
    expect_failure("\"\"", open_failure + "No such file or directory\r\n");

    std::filesystem::create_directory(at("sub"));
    expect_failure("sub", open_failure + "sub: Is a directory\r\n");

    { std::ofstream big(at("big"), std::ios::binary); }
    std::filesystem::resize_file(at("big"), 1ull << 32);
    expect_failure("big", open_failure + "big: File too large\r\n");

    write_file(at("in"), "abc");
    std::filesystem::create_directory(at("in.c"));
    expect_failure("in", "corvane: could not write in.c: Is a directory\r\n");
}

TEST_F(WindowsCommandLine, ReplacesAnExistingOutputAndIgnoresFurtherArguments) {
    auto bytes = random_bytes(40, 9);
    write_file(at("a"), bytes);
    write_file(at("a.c"), std::string(3000, 'x'));
    run_result r = run("a missing \"\" -x");
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(at("a.c")), model_array_source(bytes, "a"));
    EXPECT_EQ(names(), (std::set<std::string>{"a", "a.c"}));
}

} // namespace
