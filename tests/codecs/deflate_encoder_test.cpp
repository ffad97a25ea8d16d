// RowDeflater's streams inflate with zlib to exactly the bytes fed in, however they are cut into
// pieces: data that takes every kind of block (stored noise, fixed codes for a few bytes, codes of
// its own), runs of every length around deflate's 258 and across pieces, and counts skewed enough
// that an unlimited Huffman code would need more than 15 bits.
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/codecs/deflate_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The stream of `data` fed in pieces of at most `piece` bytes, `pixelBytes` to the pixel.
Bytes Compress(const Bytes &data, std::size_t piece, unsigned pixelBytes) {
    zav::RowDeflater deflater;
    EXPECT_TRUE(deflater.Init(piece, pixelBytes));
    // One buffer as the writer keeps it: history before the piece, readable bytes after it.
    Bytes buffer(zav::kDeflateHistory + piece + zav::kDeflateTail, 0xA5);
    Bytes stream;
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(piece, data.size() - at);
        // The end of what went before (as much as there is) just before the piece.
        const std::size_t keep = std::min(at, zav::kDeflateHistory);
        if (keep != 0) {
            std::memcpy(buffer.data() + zav::kDeflateHistory - keep, data.data() + at - keep, keep);
        }
        if (n != 0) {  // an empty vector's data may be null
            std::memcpy(buffer.data() + zav::kDeflateHistory, data.data() + at, n);
        }
        at += n;
        deflater.Compress(buffer.data() + zav::kDeflateHistory, n, at == data.size());
        stream.insert(stream.end(), deflater.Output(), deflater.Output() + deflater.OutputBytes());
        deflater.Take();
    } while (at < data.size());
    return stream;
}

// zlib's inflate of `stream`, which must be whole and end exactly where the stream ends.
::testing::AssertionResult InflatesTo(const Bytes &stream, const Bytes &expected) {
    Bytes out(expected.size() + 64);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return ::testing::AssertionFailure() << "inflateInit";
    }
    z.next_in = const_cast<Bytef *>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&z, Z_FINISH);
    const std::size_t produced = out.size() - z.avail_out;
    const uInt left = z.avail_in;
    inflateEnd(&z);
    if (result != Z_STREAM_END) {
        return ::testing::AssertionFailure() << "inflate: " << result << ", " << produced << " of "
                                             << expected.size() << " bytes";
    }
    if (left != 0) {
        return ::testing::AssertionFailure() << left << " bytes after the stream's end";
    }
    out.resize(produced);
    if (out != expected) {
        std::size_t first = 0;
        while (first < std::min(out.size(), expected.size()) && out[first] == expected[first]) {
            ++first;
        }
        return ::testing::AssertionFailure() << produced << " bytes, first difference at " << first;
    }
    return ::testing::AssertionSuccess();
}

Bytes Noise(std::size_t n, uint32_t seed) {
    Bytes b(n);
    for (uint8_t &v : b) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        v = static_cast<uint8_t>(seed >> 24);
    }
    return b;
}

struct Case {
    std::string name;
    Bytes data;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"one byte", {0xFF}});
    cases.push_back({"three equal bytes", {7, 7, 7}});
    cases.push_back({"zeros", Bytes(300000, 0)});
    cases.push_back({"noise", Noise(200000, 1)});
    // Runs of every length from 1 to 600 at distance 1, each a new value, between noise.
    Bytes runs;
    for (unsigned length = 1; length <= 600; ++length) {
        const Bytes gap = Noise(length % 7, length);
        runs.insert(runs.end(), gap.begin(), gap.end());
        runs.insert(runs.end(), length, static_cast<uint8_t>(length * 37));
    }
    cases.push_back({"runs of every length", runs});
    // Pixels of three bytes repeating (runs one pixel back), broken every so often.
    Bytes pixels;
    for (unsigned i = 0; i < 90000; ++i) {
        const unsigned block = i / 97;
        pixels.push_back(static_cast<uint8_t>(block * 3 + i % 3));
        if (i % 1000 == 999) {
            pixels.push_back(static_cast<uint8_t>(i));
        }
    }
    cases.push_back({"repeating pixels", pixels});
    // Symbol s occurring about 1.6^s times: the plain Huffman code would be 30 bits deep.
    Bytes skewed;
    double count = 1;
    for (unsigned s = 0; s < 30; ++s, count *= 1.6) {
        for (unsigned k = 0; k < static_cast<unsigned>(count); ++k) {
            skewed.push_back(static_cast<uint8_t>(s * 8 + (k % 2)));
        }
    }
    // Spread the symbols out so that they make no runs.
    Bytes spread(skewed.size());
    for (std::size_t i = 0, j = 0; i < skewed.size(); ++i, j = (j + 7919) % skewed.size()) {
        spread[j] = skewed[i];
    }
    cases.push_back({"skewed counts", spread});
    // Filtered rows as a flat picture gives them: a filter byte, then zeros.
    Bytes rows;
    for (int y = 0; y < 200; ++y) {
        rows.push_back(static_cast<uint8_t>(y % 5));
        const Bytes row = y % 3 == 0 ? Noise(301, y) : Bytes(301, static_cast<uint8_t>(y));
        rows.insert(rows.end(), row.begin(), row.end());
    }
    cases.push_back({"rows", rows});
    return cases;
}

TEST(RowDeflater, EveryStreamInflatesToItsBytes) {
    for (const Case &c : Cases()) {
        for (unsigned pixelBytes : {1u, 3u, 4u}) {
            for (std::size_t piece : {std::size_t{1}, std::size_t{17}, std::size_t{4096},
                                      std::size_t{65536}, std::size_t{1} << 20}) {
                if (piece < 64 && c.data.size() > 20000) {
                    continue;  // thousands of blocks: slow, and nothing more to see
                }
                const Bytes stream = Compress(c.data, piece, pixelBytes);
                EXPECT_TRUE(InflatesTo(stream, c.data))
                    << c.name << ", pieces of " << piece << ", " << pixelBytes << " bytes a pixel";
            }
        }
    }
}

// What the encoder is for: runs shrink to almost nothing, noise costs only its stored blocks'
// heads (a stream never grows beyond what the writer's buffers were sized for).
TEST(RowDeflater, RunsShrinkAndNoiseStaysStored) {
    const Bytes zeros(1 << 20, 0);
    EXPECT_LT(Compress(zeros, 1 << 17, 3).size(), zeros.size() / 200);
    const Bytes noise = Noise(1 << 20, 9);
    const std::size_t piece = 1 << 17;
    const std::size_t storedBlocks = (piece + 65534) / 65535 * (noise.size() / piece);
    EXPECT_LE(Compress(noise, piece, 3).size(), noise.size() + 5 * storedBlocks + 6);
    // One piece of a megabyte, cut into blocks inside: every block stored, in the room the
    // encoder set aside (the sanitizers would see a store past it).
    const Bytes whole = Compress(noise, noise.size(), 1);
    EXPECT_TRUE(InflatesTo(whole, noise));
    EXPECT_LE(whole.size(), noise.size() + 5 * (noise.size() / 65535 + 8 + 1) + 6);
}

}  // namespace
