// The red-blue exchange of every implementation the machine can run, against the plain rule,
// for every length around the vector steps, out of place and in place.
#include "imaging/codecs/byte_order.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Swap = void (*)(const uint8_t *, uint8_t *, std::size_t) noexcept;

struct Variant {
    std::string name;
    Swap swap;
};

std::vector<Variant> Variants() {
    std::vector<Variant> v{{"scalar", zav::detail::SwapRedBlueScalar}};
    if (__builtin_cpu_supports("ssse3")) {
        v.push_back({"ssse3", zav::detail::SwapRedBlueSsse3});
    }
    if (__builtin_cpu_supports("avx2")) {
        v.push_back({"avx2", zav::detail::SwapRedBlueAvx2});
    }
    v.push_back({"dispatched", zav::SwapRedBlue});
    return v;
}

std::vector<uint8_t> Samples(std::size_t pixels) {
    std::vector<uint8_t> s(3 * pixels);
    for (std::size_t i = 0; i < s.size(); ++i) {
        s[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    return s;
}

std::vector<uint8_t> Expected(const std::vector<uint8_t> &in) {
    std::vector<uint8_t> out(in);
    for (std::size_t i = 0; i + 2 < out.size(); i += 3) {
        std::swap(out[i], out[i + 2]);
    }
    return out;
}

TEST(SwapRedBlue, EveryVariantAgreesWithThePlainRuleOutOfPlaceAndInPlace) {
    for (const Variant &variant : Variants()) {
        for (std::size_t pixels = 0; pixels <= 100; ++pixels) {
            const std::vector<uint8_t> in = Samples(pixels);
            const std::vector<uint8_t> want = Expected(in);
            // One guard byte past the row shows that nothing is written beyond it.
            std::vector<uint8_t> out(in.size() + 1, 0xA5);
            variant.swap(in.data(), out.data(), pixels);
            EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end() - 1), want)
                << variant.name << " " << pixels;
            EXPECT_EQ(out.back(), 0xA5) << variant.name << " " << pixels;
            std::vector<uint8_t> row = in;
            variant.swap(row.data(), row.data(), pixels);
            EXPECT_EQ(row, want) << variant.name << " in place, " << pixels;
        }
        // A long row from an odd address, in place: the vector steps on unaligned bytes.
        std::vector<uint8_t> buffer(3 * 1001 + 1);
        const std::vector<uint8_t> in = Samples(1001);
        std::copy(in.begin(), in.end(), buffer.begin() + 1);
        variant.swap(buffer.data() + 1, buffer.data() + 1, 1001);
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 1, buffer.end()), Expected(in))
            << variant.name;
    }
}

}  // namespace
