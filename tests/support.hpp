// File helpers shared by the tests.
#pragma once

#include <map>
#include <string>
#include <vector>

// A fresh folder that is removed with everything in it when the object goes.
struct scratch_folder {
    std::string path;
    scratch_folder();
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
};

void write_file(const std::string& path, const std::vector<unsigned char>& bytes);
void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);
bool exists(const std::string& path);

// Every entry below a folder: its relative path, and for a file its contents,
// for anything else a marker of its kind. Two equal snapshots mean nothing in
// the folder changed.
std::map<std::string, std::string> snapshot(const std::string& folder);

// True when the tests run in CI, where a missing tool is a failure.
bool in_ci();
