// Reading a fuzzer's input as a stream of choices and values. Past the end of
// the input every read gives zero, so any byte string is a valid input.
#ifndef OSTREVANE_TESTS_FUZZ_FUZZ_INPUT_H
#define OSTREVANE_TESTS_FUZZ_FUZZ_INPUT_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return size_ == 0; }

    template <typename T>
    T Take() {
        T value{};
        const std::size_t n = size_ < sizeof(T) ? size_ : sizeof(T);
        if (n > 0) {
            std::memcpy(&value, data_, n);
        }
        data_ += n;
        size_ -= n;
        return value;
    }

    std::uint8_t Byte() { return Take<std::uint8_t>(); }
    bool Bool() { return (Byte() & 1) != 0; }

    // A value in [0, count); count must be positive.
    std::size_t Index(std::size_t count) { return Take<std::uint16_t>() % count; }

    // An int as a caller might pass it: mostly small, often one of the
    // values where arithmetic goes wrong, sometimes any bits at all.
    int Int() {
        static const int kEdges[] = {
            0,           1,           -1,         2,           INT_MAX,   INT_MIN,
            INT_MAX - 1, INT_MIN + 1, 0x8000,     -0x8000,     0x7FFF,    -0x7FFF,
            0x10000,     0x0FFFFFFF,  0x10000000, -0x10000000, 0x7FFFFFF, 0x8000000,
            INT_MAX / 2, INT_MIN / 2, 16384,      16385,       32767,     32768};
        switch (Byte() % 8) {
            case 0:
            case 1:
            case 2:
                return static_cast<int>(Byte()) - 64;
            case 3:
                return static_cast<int>(Take<std::uint16_t>() % 2048) - 512;
            case 4:
                return kEdges[Index(sizeof(kEdges) / sizeof(kEdges[0]))];
            case 5: {
                // Near an edge.
                const int edge = kEdges[Index(sizeof(kEdges) / sizeof(kEdges[0]))];
                const int delta = static_cast<int>(Byte() % 9) - 4;
                return static_cast<int>(static_cast<unsigned>(edge) + static_cast<unsigned>(delta));
            }
            default:
                return Take<int>();
        }
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace fuzz

#endif  // OSTREVANE_TESTS_FUZZ_FUZZ_INPUT_H
