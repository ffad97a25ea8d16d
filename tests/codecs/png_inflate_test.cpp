// The streaming PNG decoder against zlib's deflate: every kind of block zlib writes (stored, fixed,
// its own codes; runs only, Huffman only), the stream cut into pieces down to single bytes, rows
// wider than the window's working area, every filter; and every fault a stream can carry fails:
// cut short before the last row, a wrong check value, a distance before the first byte,
// a bad block type or code, a filter byte above 4, too few rows; and the ends libspng forgives
// (rows over, bytes after the stream, no check value) load.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/codecs/deflate_encoder.h"
#include "imaging/codecs/png_inflate.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Pieces final : public zav::StreamPieces {
  public:
    Pieces(const Bytes &stream, std::size_t piece) : m_stream(stream), m_piece(piece) {}
    std::span<const uint8_t> Next() override {
        const std::size_t n = std::min(m_piece, m_stream.size() - m_at);
        const std::span<const uint8_t> s(m_stream.data() + m_at, n);
        m_at += n;
        return s;
    }

  private:
    const Bytes &m_stream;
    std::size_t m_piece;
    std::size_t m_at = 0;
};

uint32_t Next(uint32_t &seed) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
}

// A picture's filtered rows and, beside them, the BGR rows they decode to (worked out here byte by
// byte, the plain way).
struct Rows {
    std::size_t width, height;
    unsigned channels;
    Bytes filtered;
    Bytes bgr;  // rows of width * 3, no padding
};

int Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

Rows MakeRows(std::size_t width, std::size_t height, unsigned channels, uint32_t seed) {
    Rows r{width, height, channels, {}, {}};
    const std::size_t n = width * channels;
    Bytes prior(n, 0), row(n);
    for (std::size_t y = 0; y < height; ++y) {
        const uint8_t filter = static_cast<uint8_t>(Next(seed) % 5);
        r.filtered.push_back(filter);
        const bool flat = y % 3 == 1;  // runs to copy
        for (std::size_t i = 0; i < n; ++i) {
            const uint8_t f = flat ? static_cast<uint8_t>(i % channels) : Next(seed) >> 24;
            r.filtered.push_back(f);
            const int a = i >= channels ? row[i - channels] : 0;
            const int b = prior[i];
            const int c = i >= channels ? prior[i - channels] : 0;
            const int p[5] = {0, a, b, (a + b) / 2, Paeth(a, b, c)};
            row[i] = static_cast<uint8_t>(f + p[filter]);
        }
        for (std::size_t x = 0; x < width; ++x) {
            for (int k = 0; k < 3; ++k) {
                // gray (and alpha) spreads, red and blue change places, alpha is dropped
                r.bgr.push_back(channels < 3 ? row[x * channels] : row[x * channels + 2 - k]);
            }
        }
        prior = row;
    }
    return r;
}

Bytes Zlib(const Bytes &raw, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy), Z_OK);
    Bytes out(deflateBound(&z, raw.size()));
    z.next_in = const_cast<Bytef *>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Our own encoder's stream, in pieces of 100 KB.
Bytes Ours(const Bytes &raw, unsigned channels) {
    zav::RowDeflater d;
    const std::size_t piece = 100000;
    EXPECT_TRUE(d.Init(piece, channels));
    Bytes buffer(zav::kDeflateHistory + piece + zav::kDeflateTail), out;
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(piece, raw.size() - at);
        // The end of what went before (as much as there is) just before the piece.
        const std::size_t keep = std::min(at, zav::kDeflateHistory);
        if (keep != 0) {
            std::memcpy(buffer.data() + zav::kDeflateHistory - keep, raw.data() + at - keep, keep);
        }
        if (n != 0) {  // an empty vector's data may be null
            std::memcpy(buffer.data() + zav::kDeflateHistory, raw.data() + at, n);
        }
        at += n;
        d.Compress(buffer.data() + zav::kDeflateHistory, n, at == raw.size());
        out.insert(out.end(), d.Output(), d.Output() + d.OutputBytes());
        d.Take();
    } while (at < raw.size());
    return out;
}

// Decodes `stream` in pieces of `piece` bytes into rows padded to `step`; the padding must stay.
zav::CodecStatus Decode(const Rows &r, const Bytes &stream, std::size_t piece, Bytes *bgr) {
    const std::size_t step = r.width * 3 + 5;
    Bytes out(step * r.height, 0xEE);
    Pieces pieces(stream, piece);
    const zav::CodecStatus status =
        zav::InflatePngRows(pieces, r.width, r.height, r.channels, out.data(), step);
    bgr->clear();
    for (std::size_t y = 0; y < r.height; ++y) {
        bgr->insert(bgr->end(), out.begin() + y * step, out.begin() + y * step + r.width * 3);
        EXPECT_EQ(out[y * step + r.width * 3 + 4], 0xEE) << "padding written";
    }
    return status;
}

TEST(PngInflate, EveryKindOfStreamDecodesExactly) {
    struct Shape {
        std::size_t width, height;
    };
    // Small, ordinary, and rows wider than the window's megabyte of working room.
    const Shape shapes[] = {{1, 1}, {1, 40}, {37, 1}, {61, 37}, {700, 300}, {300000, 3}};
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    for (unsigned channels : {1u, 2u, 3u, 4u}) {
        for (const Shape &s : shapes) {
            if (s.width > 1000 && channels != 3) {
                continue;  // the window's sliding is the same for every pixel size
            }
            const Rows r = MakeRows(s.width, s.height, channels, 7 + s.width);
            std::vector<std::pair<std::string, Bytes>> streams;
            for (int level : {0, 1, 9}) {
                for (int strategy : strategies) {
                    streams.push_back({"zlib level " + std::to_string(level) + " strategy " +
                                           std::to_string(strategy),
                                       Zlib(r.filtered, level, strategy)});
                }
            }
            streams.push_back({"ours", Ours(r.filtered, channels)});
            for (const auto &[name, stream] : streams) {
                for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
                    if (piece == 1 && stream.size() > 20000) {
                        continue;
                    }
                    Bytes bgr;
                    EXPECT_EQ(Decode(r, stream, piece, &bgr), zav::CodecStatus::kOk)
                        << name << ", " << s.width << " x " << s.height << " x " << channels
                        << ", pieces of " << piece;
                    EXPECT_TRUE(bgr == r.bgr) << name << ", " << s.width << " x " << s.height;
                }
            }
        }
    }
}

// A raw deflate body behind a zlib header and before the check value of `data`.
Bytes Wrap(const Bytes &body, const Bytes &data) {
    Bytes s = {0x78, 0x01};
    s.insert(s.end(), body.begin(), body.end());
    const uint32_t check = static_cast<uint32_t>(adler32(1, data.data(), data.size()));
    for (int shift = 24; shift >= 0; shift -= 8) {
        s.push_back(static_cast<uint8_t>(check >> shift));
    }
    return s;
}

// How many bytes zlib inflates from `stream` before it ends or breaks off.
std::size_t ZlibInflates(const Bytes &stream, std::size_t most) {
    Bytes out(most + 1000);
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    z.next_in = const_cast<Bytef *>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_SYNC_FLUSH);
    const std::size_t n = out.size() - z.avail_out;
    inflateEnd(&z);
    return n;
}

TEST(PngInflate, StreamsEndAsLibspngJudgesThem) {
    using zav::CodecStatus;
    const Rows r = MakeRows(50, 20, 3, 99);
    const Bytes good = Zlib(r.filtered, 6, Z_DEFAULT_STRATEGY);
    Bytes bgr;
    ASSERT_EQ(Decode(r, good, 3, &bgr), CodecStatus::kOk);
    // Cut anywhere: corrupt while rows are missing; once they are all there (the check value or
    // the last block's end cut off), the picture loads.
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        const Bytes part(good.begin(), good.begin() + cut);
        const bool whole = ZlibInflates(part, r.filtered.size()) >= r.filtered.size();
        EXPECT_EQ(Decode(r, part, 3, &bgr), whole ? CodecStatus::kOk : CodecStatus::kCorrupt)
            << "cut at " << cut << " of " << good.size();
        if (whole) {
            EXPECT_TRUE(bgr == r.bgr) << cut;
        }
    }
    Bytes bad = good;
    bad.back() ^= 1;
    EXPECT_EQ(Decode(r, bad, 1 << 20, &bgr), CodecStatus::kCorrupt) << "check value";
    bad = good;
    bad.insert(bad.end(), {1, 2, 3});
    EXPECT_EQ(Decode(r, bad, 1 << 20, &bgr), CodecStatus::kOk) << "bytes after the end";
    bad = good;
    bad[0] = 0x79;
    EXPECT_EQ(Decode(r, bad, 1 << 20, &bgr), CodecStatus::kCorrupt) << "header";

    Rows filter = r;
    filter.filtered[(50 * 3 + 1) * 4] = 5;
    EXPECT_EQ(Decode(r, Zlib(filter.filtered, 6, Z_DEFAULT_STRATEGY), 1 << 20, &bgr),
              CodecStatus::kCorrupt)
        << "filter byte 5";
    const Bytes shorter(r.filtered.begin(), r.filtered.end() - 1);
    EXPECT_EQ(Decode(r, Zlib(shorter, 6, Z_DEFAULT_STRATEGY), 1 << 20, &bgr), CodecStatus::kCorrupt)
        << "a byte short";
    Bytes longer = r.filtered;
    longer.insert(longer.end(), 151, 0);
    EXPECT_EQ(Decode(r, Zlib(longer, 6, Z_DEFAULT_STRATEGY), 1 << 20, &bgr), CodecStatus::kOk)
        << "a row over";
    EXPECT_TRUE(bgr == r.bgr);

    // Hand-made blocks over a one-row, one-pixel gray picture (filter byte and one sample).
    const Rows tiny = MakeRows(1, 1, 1, 5);
    // Fixed codes: literal 0 (00110000), then a match of 3 (0000001) at distance 5 (00100, one
    // extra bit 0), then the end: the distance reaches before the first byte.
    const Bytes farBack = {0x63, 0x00, 0x12, 0x00, 0x00};
    EXPECT_EQ(Decode(tiny, Wrap(farBack, tiny.filtered), 1 << 20, &bgr), CodecStatus::kCorrupt)
        << "too far back";
    EXPECT_EQ(Decode(tiny, Wrap({0x07, 0x00}, tiny.filtered), 1 << 20, &bgr), CodecStatus::kCorrupt)
        << "block type 3";
    // Own codes whose code length code is incomplete (lengths of 7 and 0 bits).
    const Bytes incomplete = {0x05, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                              0x3F, 0x92, 0x24, 0x49, 0x92, 0x24};
    EXPECT_EQ(Decode(tiny, Wrap(incomplete, tiny.filtered), 1 << 20, &bgr), CodecStatus::kCorrupt)
        << "incomplete code";
    // A stored block whose length and its complement disagree, then the same block right.
    EXPECT_EQ(
        Decode(tiny, Wrap({0x01, 0x02, 0x00, 0xFD, 0xFE, 0, 0}, tiny.filtered), 1 << 20, &bgr),
        CodecStatus::kCorrupt)
        << "stored length";
    EXPECT_EQ(Decode(tiny,
                     Wrap({0x01, 0x02, 0x00, 0xFD, 0xFF, tiny.filtered[0], tiny.filtered[1]},
                          tiny.filtered),
                     1 << 20, &bgr),
              CodecStatus::kOk);
    EXPECT_TRUE(bgr == tiny.bgr);
}

}  // namespace
