#include "support.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

scratch_folder::scratch_folder() {
    static std::mt19937 engine(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() / ("corvane-test-" + std::to_string(engine()));
        if (fs::create_directory(candidate)) {
            path = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
}

scratch_folder::~scratch_folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
    write_file(path, std::string(bytes.begin(), bytes.end()));
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

std::map<std::string, std::string> snapshot(const std::string& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string name = fs::relative(entry.path(), folder).string();
        auto status = entry.symlink_status();
        if (fs::is_symlink(status)) {
            entries[name] = "<link to " + fs::read_symlink(entry.path()).string() + ">";
        } else if (fs::is_regular_file(status)) {
            char mode[16];
            std::snprintf(mode, sizeof mode, "<mode %o>",
                          static_cast<unsigned>(status.permissions()));
            // Huge sparse inputs are told apart by size alone; reading them would be slow.
            auto size = fs::file_size(entry.path());
            entries[name] = mode + (size > (1u << 20) ? "<size " + std::to_string(size) + ">"
                                                      : read_file(entry.path().string()));
        } else if (fs::is_directory(status)) {
            entries[name] = "<folder>";
        } else {
            entries[name] = "<other>";
        }
    }
    return entries;
}

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}
