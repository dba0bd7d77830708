#include "tools/whole_file.h"

#include <random>

std::string TemporaryPathFor(const std::string& path) {
    std::random_device random;
    return path + ".tmp-" + std::to_string(random()) + std::to_string(random());
}
