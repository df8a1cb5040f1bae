// corvane: converts one binary file into a C source file that declares its
// bytes as a const unsigned char array, for Game Boy programs built with GBDK.
//
// The array source is written to a temporary file beside the output and moved
// into place only when it is complete, so a failed run leaves no partial file
// and an earlier array source stays as it was.

#include <cerrno>
#include <cstdint>
#include <string>

#include "array_source.hpp"
#include "platform.hpp"

#ifdef _WIN32
// Asks the MinGW-w64 C runtime to expand wildcards in the arguments as the
// Windows start-up does: `corvane *.bin` converts the first match in
// case-insensitive order, and a pattern with no match is passed on as typed.
extern "C" {
int _dowildcard = -1;
}
#endif

namespace {

constexpr char usage_text[] =
    "corvane - convert binary files to c language for GBDK\nusage: tessik foo.bin";
constexpr char open_failure_text[] = "mulbray: could not open sav file";
constexpr char input_ended_text[] = "unexpected end of file";

// Writes a whole diagnostic at once, so its parts can never be separated or
// reordered on the standard error stream.
void report(const std::string& text) {
    write_all(2, text.data(), text.size());
}

// The open-failure text followed by a line shaped like perror's: the path,
// ": ", the reason (the reason alone for an empty path) and a line break.
void report_open_failure(const char* path, const char* reason) {
    std::string text = open_failure_text;
    if (*path != '\0') {
        text += path;
        text += ": ";
    }
    text += reason;
    text += '\n';
    report(text);
}

void report_failure(const char* what, const std::string& path, const char* reason) {
    report(std::string("corvane: could not ") + what + ' ' + path + ": " + reason + '\n');
}

// The final path component; slashes and backslashes both count as separators.
const char* array_name_of(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\') {
            name = c + 1;
        }
    }
    return name;
}

} // namespace

int main(int argc, char** argv) {
    if (argc <= 1) {
        report(usage_text);
        return 1;
    }
    prepare_process();
    const char* input_path = argv[1];

    int input_fd = -1;
    std::uint64_t size = 0;
    if (const char* reason = open_input(input_path, input_fd, size)) {
        report_open_failure(input_path, reason);
        return 1;
    }
    if (size > UINT32_MAX) {
        close_input(input_fd);
        report_open_failure(input_path, error_text(EFBIG));
        return 1;
    }

    // The output lands beside the input: the whole argument with ".c" appended.
    const std::string output_path = std::string(input_path) + ".c";
    temp_output temp{};
    if (const char* reason = create_temp_output(output_path, temp)) {
        close_input(input_fd);
        report_failure("write", output_path, reason);
        return 1;
    }

    array_source_result result = write_array_source(
        temp.fd, input_fd, static_cast<std::uint32_t>(size), array_name_of(input_path));
    if (result.status != array_source_status::ok) {
        discard_temp_output(temp);
        close_input(input_fd);
        if (result.status == array_source_status::write_failed) {
            report_failure("write", output_path, error_text(result.error_number));
        } else {
            const char* reason = result.status == array_source_status::input_ended_early
                                     ? input_ended_text
                                     : error_text(result.error_number);
            report_failure("read", input_path, reason);
        }
        return 1;
    }
    if (const char* reason = commit_temp_output(temp, output_path)) {
        close_input(input_fd);
        report_failure("write", output_path, reason);
        return 1;
    }
    close_input(input_fd);
    return 0;
}
