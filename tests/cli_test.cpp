// The program as a user runs it: exit status, standard output, the exact bytes
// of standard error, and which files exist afterwards.
#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <set>
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
    bool unprivileged = false;
};

class CommandLine : public ::testing::Test {
  protected:
    scratch_folder work;    // the program's current folder
    scratch_folder streams; // its captured standard output and error
    std::string program = CORVANE_PROGRAM;

    std::string at(const std::string& name) const {
        return work.path + "/" + name;
    }

    // Starts the program in the work folder with its output streams going to
    // the given files; finish() waits for it.
    pid_t spawn(const std::vector<std::string>& args, run_options options,
                const std::string& out_path, const std::string& err_path) {
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
            for (int s : {SIGINT, SIGTERM, SIGHUP}) {
                signal(s, SIG_DFL);
            }
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            // Root ignores permission bits, so drop to an ordinary user.
            if (options.unprivileged && getuid() == 0 &&
                (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
                _exit(126);
            }
            alarm(120); // a run that hangs fails instead of stalling the suite
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const auto& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        return pid;
    }

    // The exit status, or 128 + the signal that ended the program.
    static int finish(pid_t pid) {
        int wait_status = 0;
        waitpid(pid, &wait_status, 0);
        return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    }

    run_result run(const std::vector<std::string>& args, run_options options = {}) {
        std::string out_path = streams.path + "/out";
        std::string err_path = streams.path + "/err";
        int status = finish(spawn(args, options, out_path, err_path));
        return {status, read_file(out_path), read_file(err_path)};
    }

    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& [name, contents] : snapshot(work.path)) {
            found.insert(name);
        }
        return found;
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
        EXPECT_EQ(names(), (std::set<std::string>{"sub", c.file, c.output}));
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

// Only lists names: cheap enough to call in a tight loop.
bool has_temp_file(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    bool found = false;
    while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        found = found || std::string(entry->d_name).rfind(".corvane-", 0) == 0;
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return found;
}

TEST_F(CommandLine, InterruptedRunLeavesNothingBehindAndEndsBySignal) {
    // Half a GiB of zeros (a sparse file) takes long enough to convert.
    write_file(at("big"), "");
    ASSERT_EQ(truncate(at("big").c_str(), 512 << 20), 0);
    write_file(at("big.c"), "an earlier array source");
    auto before = snapshot(work.path);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        pid_t pid = spawn({"big"}, {}, "/dev/null", streams.path + "/err");
        // Strike while the temporary file exists: the conversion is under way.
        for (int i = 0; i < 100000 && !has_temp_file(work.path); ++i) {
            usleep(100);
        }
        EXPECT_TRUE(has_temp_file(work.path));
        kill(pid, signal_number);
        EXPECT_EQ(finish(pid), 128 + signal_number) << read_file(streams.path + "/err");
        EXPECT_EQ(snapshot(work.path), before);
    }
}

TEST_F(CommandLine, ConcurrentRunsOnOneInputLeaveOneWholeArraySource) {
    auto bytes = random_bytes(3 << 20, 11);
    write_file(at("asset"), bytes);
    const std::string expected = model_array_source(bytes, "asset");
    for (int round = 0; round < 3; ++round) {
        std::vector<pid_t> running;
        for (int i = 0; i < 6; ++i) {
            running.push_back(spawn({"asset"}, {}, "/dev/null", "/dev/null"));
        }
        // Meanwhile the array source, once there, is always whole.
        for (int look = 0; look < 50; ++look) {
            if (exists(at("asset.c"))) {
                EXPECT_TRUE(read_file(at("asset.c")) == expected);
            }
        }
        for (pid_t pid : running) {
            EXPECT_EQ(finish(pid), 0);
        }
        EXPECT_TRUE(read_file(at("asset.c")) == expected);
        EXPECT_EQ(names(), (std::set<std::string>{"asset", "asset.c"}));
    }
}

TEST_F(CommandLine, OddFileNames) {
    const std::string names_that_work[] = {
        "with space", "ünïcödé.bin",         "line\nbreak", "-leading",
        "tab\there",  std::string(253, 'n'), // its array source's name is 255 bytes, the most a
                                             // name may have
    };
    for (const auto& name : names_that_work) {
        SCOPED_TRACE(name);
        auto bytes = random_bytes(20, static_cast<unsigned>(name.size()));
        write_file(at(name), bytes);
        run_result r = run({name});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(at(name + ".c")), model_array_source(bytes, name));
    }
    // One byte more and the array source's name cannot exist.
    const std::string too_long(254, 'n');
    write_file(at(too_long), "abc");
    expect_failure({too_long}, "corvane: could not write " + too_long + ".c: File name too long\n");
}

TEST_F(CommandLine, PermissionFailuresAsAnOrdinaryUser) {
    // The ordinary user must reach the program and the folder: the build tree
    // may be private to root.
    std::filesystem::copy_file(CORVANE_PROGRAM, streams.path + "/corvane");
    program = streams.path + "/corvane";
    chmod(program.c_str(), 0755);
    chmod(streams.path.c_str(), 0755);
    chmod(work.path.c_str(), 0755);

    write_file(at("secret"), "abc");
    chmod(at("secret").c_str(), 0);
    expect_failure({"secret"}, open_failure + "secret: Permission denied\n",
                   {.unprivileged = true});

    // The folder belongs to someone else and may not be written.
    write_file(at("in"), "abc");
    if (getuid() != 0) {
        chmod(work.path.c_str(), 0555);
    }
    expect_failure({"in"}, "corvane: could not write in.c: Permission denied\n",
                   {.unprivileged = true});
    chmod(work.path.c_str(), 0755);
}

// The folder `depth` levels of `component` below `base`, opened.
int open_nested(const std::string& base, const std::string& component, int depth) {
    int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth; ++i) {
        int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    return fd;
}

TEST_F(CommandLine, TemporaryNameFitsWhereverTheOutputPathFits) {
    // A folder path of 16 * 255 = 4080 bytes: the input and output paths fit
    // within the 4095 bytes a path may have, a longer temporary name would not.
    const std::string component(254, 'd');
    std::string folder;
    for (int depth = 0; depth < 16; ++depth) {
        int parent = open_nested(work.path, component, depth);
        ASSERT_EQ(mkdirat(parent, component.c_str(), 0755), 0);
        close(parent);
        folder += component + "/";
    }
    int deepest = open_nested(work.path, component, 16);
    ASSERT_GE(deepest, 0);
    auto bytes = random_bytes(50, 3);
    int in = openat(deepest, "wave", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(write(in, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(in);

    run_result r = run({folder + "wave"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::string output(1000, '\0');
    int out = openat(deepest, "wave.c", O_RDONLY);
    output.resize(
        static_cast<std::size_t>(std::max<ssize_t>(read(out, output.data(), output.size()), 0)));
    close(out);
    EXPECT_EQ(output, model_array_source(bytes, "wave"));

    // Nothing else is left (the deepest folder must be empty to go), and the
    // tree is removed here, being too deep for the usual removal.
    EXPECT_EQ(unlinkat(deepest, "wave", 0), 0);
    EXPECT_EQ(unlinkat(deepest, "wave.c", 0), 0);
    close(deepest);
    for (int depth = 15; depth >= 0; --depth) {
        int parent = open_nested(work.path, component, depth);
        EXPECT_EQ(unlinkat(parent, component.c_str(), AT_REMOVEDIR), 0) << depth;
        close(parent);
    }
}

} // namespace
