// A plain, independent description of the array source, used as the expected
// output in tests. It builds the text row by row, the way a reader would
// describe it, rather than entry by entry as the program does.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

std::string model_array_source(const std::vector<unsigned char>& bytes, const std::string& name);

// The length the array source must have for n bytes and a name of l characters.
std::size_t model_length(std::size_t n, std::size_t l);

// Deterministic pseudo-random bytes.
std::vector<unsigned char> random_bytes(std::size_t n, unsigned seed);
