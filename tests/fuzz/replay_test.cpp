// Runs a fuzzer's entry point, outside libFuzzer, over every file of its
// seed corpus and of its regression inputs (inputs that once found a fault),
// so that the normal test suite keeps them passing. A fault aborts the test
// program with the fuzzer's message, naming the file being run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& directory) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(directory)) {
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// What libFuzzer does once before the first input.
void Initialise() {
    static bool initialised = false;
    if (!initialised && LLVMFuzzerInitialize != nullptr) {
        int argc = 0;
        char** argv = nullptr;
        LLVMFuzzerInitialize(&argc, &argv);
    }
    initialised = true;
}

int RunAll(const std::filesystem::path& directory) {
    Initialise();
    int count = 0;
    for (const std::filesystem::path& file : FilesIn(directory)) {
        std::ifstream stream(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(stream)),
                                      std::istreambuf_iterator<char>());
        // Said before running it: a fault ends the program.
        std::fprintf(stderr, "running %s (%zu bytes)\n", file.string().c_str(), bytes.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++count;
    }
    return count;
}

TEST(FuzzReplay, SeedCorpus) {
    EXPECT_GT(RunAll(OSTREVANE_FUZZ_CORPUS_DIR), 0)
        << "no seed corpus in " OSTREVANE_FUZZ_CORPUS_DIR;
}

TEST(FuzzReplay, Regressions) { RunAll(OSTREVANE_FUZZ_REGRESSION_DIR); }

TEST(FuzzReplay, EmptyAndTinyInputs) {
    Initialise();
    const std::uint8_t bytes[4] = {0xFF, 0x00, 0x80, 0x7F};
    for (std::size_t size = 0; size <= sizeof(bytes); ++size) {
        LLVMFuzzerTestOneInput(bytes, size);
    }
}

}  // namespace
