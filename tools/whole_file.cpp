#include "tools/whole_file.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

std::string TemporaryPathFor(const std::string& path) {
    std::random_device random;
    return path + ".tmp-" + std::to_string(random()) + std::to_string(random());
}

bool MoveIntoPlace(const std::string& temporary, const std::string& path, std::string* error) {
    std::error_code code;
    std::filesystem::rename(temporary, path, code);
    if (code) {
        *error = code.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
