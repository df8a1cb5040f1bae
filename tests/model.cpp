#include "model.hpp"

#include <cstdio>
#include <random>

std::string model_array_source(const std::vector<unsigned char>& bytes, const std::string& name) {
    std::string text = "//WAVE FOR GAME BOY\r\n";
    text += "\r\n";
    text += "const unsigned char " + name + "[] =\r\n";
    text += "{\r\n";
    if (bytes.empty()) {
        text += "\t\r\n";
    }
    for (std::size_t row = 0; row < bytes.size(); row += 16) {
        text += "\t";
        for (std::size_t i = row; i < row + 16 && i < bytes.size(); ++i) {
            char entry[8];
            std::snprintf(entry, sizeof entry, "0x%02X,", static_cast<unsigned>(bytes[i]));
            text += entry;
        }
        text += "\r\n";
    }
    text += "};";
    return text;
}

std::size_t model_length(std::size_t n, std::size_t l) {
    return n == 0 ? 57 + l : 57 + l + 5 * n + 3 * ((n - 1) / 16);
}

std::vector<unsigned char> random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 engine(seed);
    std::vector<unsigned char> bytes(n);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(engine() & 0xFF);
    }
    return bytes;
}
