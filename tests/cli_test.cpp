// The program as a user runs it: exit status, standard output, the exact bytes
// of standard error, and which files exist afterwards.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "model.hpp"
#include "support.hpp"

namespace {

const std::string usage_text =
    "corvane - convert binary files to c language for GBDK\nusage: tessik foo.bin";
const std::string open_failure = "mulbray: could not open sav file";

struct run_result {
    int status; // the exit status, or 128 + the signal that ended the program
    std::string out;
    std::string err;
};

struct run_options {
    mode_t umask = 022;
    rlim_t file_size_limit = RLIM_INFINITY;
};

class CommandLine : public ::testing::Test {
  protected:
    scratch_folder work;    // the program's current folder
    scratch_folder streams; // its captured standard output and error

    std::string at(const std::string& name) const {
        return work.path + "/" + name;
    }

    run_result run(const std::vector<std::string>& args, run_options options = {}) {
        std::string out_path = streams.path + "/out";
        std::string err_path = streams.path + "/err";
        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(work.path.c_str()) != 0) {
                _exit(127);
            }
            umask(options.umask);
            rlimit limit{options.file_size_limit, options.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
            int in = open("/dev/null", O_RDONLY);
            int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            alarm(120); // a run that hangs fails instead of stalling the suite
            std::vector<char*> argv{const_cast<char*>(CORVANE_PROGRAM)};
            for (const auto& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(CORVANE_PROGRAM, argv.data());
            _exit(127);
        }
        int wait_status = 0;
        waitpid(pid, &wait_status, 0);
        int status =
            WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
        return {status, read_file(out_path), read_file(err_path)};
    }

    // Runs a failing case and checks that the folder is exactly as before.
    void expect_failure(const std::vector<std::string>& args, const std::string& err,
                        run_options options = {}) {
        auto before = snapshot(work.path);
        run_result r = run(args, options);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(snapshot(work.path), before);
    }
};

TEST_F(CommandLine, NoArgumentPrintsTheUsageText) {
    expect_failure({}, usage_text);
    EXPECT_TRUE(snapshot(work.path).empty());
}

struct open_failure_case {
    const char* what;
    std::function<void(const std::string& folder)> setup;
    std::string arg;
    std::string err_after_text;
};

TEST_F(CommandLine, InputsThatCannotBeOpenedOrUsed) {
    const std::uint64_t four_gib = 1ull << 32;
    auto sparse = [](std::uint64_t size) {
        return [size](const std::string& folder) {
            write_file(folder + "/big", "");
            ASSERT_EQ(truncate((folder + "/big").c_str(), static_cast<off_t>(size)), 0);
        };
    };
    const open_failure_case cases[] = {
        {"missing", [](auto&) {}, "missing.bin", "missing.bin: No such file or directory\n"},
        {"empty argument", [](auto&) {}, "", "No such file or directory\n"},
        {"leading dash is a path", [](auto&) {}, "-h", "-h: No such file or directory\n"},
        {"folder", [](auto& f) { mkdir((f + "/sub").c_str(), 0755); }, "sub",
         "sub: Is a directory\n"},
        {"ends in a separator", [](auto& f) { mkdir((f + "/sub").c_str(), 0755); }, "sub/",
         "sub/: Is a directory\n"},
        {"fifo", [](auto& f) { mkfifo((f + "/pipe").c_str(), 0644); }, "pipe",
         "pipe: not a regular file\n"},
        {"character device", [](auto& f) { symlink("/dev/zero", (f + "/zero").c_str()); }, "zero",
         "zero: not a regular file\n"},
        {"exactly 4 GiB", sparse(four_gib), "big", "big: File too large\n"},
        {"over 4 GiB", sparse(four_gib + 1), "big", "big: File too large\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.setup(work.path);
        expect_failure({c.arg}, open_failure + c.err_after_text);
    }
}

struct conversion_case {
    std::string file;       // the input to create, relative to the folder
    std::string arg;        // the argument given
    std::string output;     // where the array source must land
    std::string array_name; // the name it must declare
};

TEST_F(CommandLine, ConvertsWithTheRightNameAndPlace) {
    const conversion_case cases[] = {
        {"foo.bin", "foo.bin", "foo.bin.c", "foo.bin"},
        {"wave", "wave", "wave.c", "wave"},
        {"sub/foo.bin", "sub/foo.bin", "sub/foo.bin.c", "foo.bin"},
        {"sub/foo.bin", "./sub//foo.bin", "sub/foo.bin.c", "foo.bin"},
        // A backslash separates the array name but is an ordinary file-name
        // character on this platform.
        {"a\\b.bin", "a\\b.bin", "a\\b.bin.c", "b.bin"},
        {"sub/x\\y", "sub/x\\y", "sub/x\\y.c", "y"},
        {"sub/trail\\", "sub/trail\\", "sub/trail\\.c", ""},
        {"c:wave", "c:wave", "c:wave.c", "c:wave"},
        {"-dash", "-dash", "-dash.c", "-dash"},
        {"1-x.y.bin", "1-x.y.bin", "1-x.y.bin.c", "1-x.y.bin"},
    };
    unsigned seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        scratch_folder folder;
        work.path.swap(folder.path); // a fresh folder for each case
        mkdir(at("sub").c_str(), 0755);
        auto bytes = random_bytes(40 + seed, seed);
        ++seed;
        write_file(at(c.file), bytes);

        run_result r = run({c.arg});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(at(c.output)), model_array_source(bytes, c.array_name));
        std::set<std::string> names;
        for (const auto& [name, contents] : snapshot(work.path)) {
            names.insert(name);
        }
        EXPECT_EQ(names, (std::set<std::string>{"sub", c.file, c.output}));
        work.path.swap(folder.path);
    }
}

TEST_F(CommandLine, IgnoresFurtherArguments) {
    auto bytes = random_bytes(100, 1);
    write_file(at("a"), bytes);
    run_result r = run({"a", "missing", "", "-x"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(at("a.c")), model_array_source(bytes, "a"));
    EXPECT_EQ(snapshot(work.path).size(), 2u);
}

TEST_F(CommandLine, ReplacesAnExistingOutputAndFollowsLinks) {
    auto bytes = random_bytes(33, 2);
    write_file(at("a"), bytes);
    write_file(at("a.c"), std::string(5000, 'x'));
    ASSERT_EQ(symlink("a", at("link").c_str()), 0);
    EXPECT_EQ(run({"a"}).status, 0);
    EXPECT_EQ(run({"link"}).status, 0);
    EXPECT_EQ(read_file(at("a.c")), model_array_source(bytes, "a"));
    EXPECT_EQ(read_file(at("link.c")), model_array_source(bytes, "link"));
}

TEST_F(CommandLine, NewOutputGetsThePermissionsOfAPlainCreate) {
    write_file(at("a"), "abc");
    for (mode_t mask : {022, 077, 0}) {
        unlink(at("a.c").c_str());
        ASSERT_EQ(run({"a"}, {.umask = mask}).status, 0);
        struct stat info {};
        ASSERT_EQ(stat(at("a.c").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask) << std::oct << mask;
    }
}

TEST_F(CommandLine, WriteFailuresLeaveTheFolderAsItWas) {
    write_file(at("in"), random_bytes(5000, 3));
    write_file(at("in.c"), "an earlier array source");
    expect_failure({"in"}, "corvane: could not write in.c: File too large\n",
                   {.file_size_limit = 4096});

    unlink(at("in.c").c_str());
    expect_failure({"in"}, "corvane: could not write in.c: File too large\n",
                   {.file_size_limit = 4096});

    mkdir(at("in.c").c_str(), 0755);
    expect_failure({"in"}, "corvane: could not write in.c: Is a directory\n");
}

// Files in /sys report a size of a whole page but hold less: an input that is
// shorter than measured when it is read.
std::string find_short_sysfs_file() {
    for (const char* path :
         {"/sys/devices/system/cpu/online", "/sys/kernel/mm/transparent_hugepage/enabled",
          "/sys/power/state", "/sys/kernel/profiling"}) {
        struct stat info {};
        if (stat(path, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
            access(path, R_OK) == 0 &&
            read_file(path).size() < static_cast<std::size_t>(info.st_size)) {
            return path;
        }
    }
    return "";
}

TEST_F(CommandLine, InputThatEndsBeforeItsMeasuredSize) {
    std::string path = find_short_sysfs_file();
    if (path.empty()) {
        if (in_ci()) {
            FAIL() << "no file in /sys reads shorter than its size";
        }
        GTEST_SKIP() << "no file in /sys reads shorter than its size";
    }
    ASSERT_EQ(symlink(path.c_str(), at("sys").c_str()), 0);
    write_file(at("sys.c"), "an earlier array source");
    expect_failure({"sys"}, "corvane: could not read sys: unexpected end of file\n");
}

} // namespace
