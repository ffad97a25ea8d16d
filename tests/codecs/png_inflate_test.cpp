// The streaming PNG decoder against zlib's deflate: every kind of block zlib writes (stored, fixed,
// its own codes; runs only, Huffman only), the stream cut into pieces down to single bytes, rows
// wider than the window's working area, every filter; every fault a stream can carry fails:
// cut short before the last row, a distance before the first byte, a bad block type or code, a
// filter byte above 4, too few rows; and the stream's end is judged as libpng judges it (zlib
// driven as libpng drives it is the oracle): rows over and bytes after the stream load, a stream
// whose end or check value the chunks do not hold fails.
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

// libpng's verdict on `stream` in `pieces`-byte IDAT chunks, worked out with zlib's inflate the
// way libpng calls it: one call per row, the data in reads of at most 8192 bytes of a chunk; once
// the rows are whole, calls into a scratch buffer until the stream ends ("Not enough image data"
// when the chunks run out first), where damage is only warned of, and which stop after the first
// call that gives no byte.
// A row whose filter byte is above 4 fails it too (`*badFilter` set).
bool LibpngAccepts(const Bytes &stream, std::size_t piece, std::size_t rowBytes, std::size_t rows,
                   bool *badFilter) {
    *badFilter = false;
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, 0), Z_OK);
    std::size_t at = 0, chunkLeft = 0;
    const auto read = [&]() {
        if (chunkLeft == 0) {
            if (at == stream.size()) {
                return false;
            }
            chunkLeft = std::min(piece, stream.size() - at);
        }
        const std::size_t n = std::min<std::size_t>(chunkLeft, 8192);
        z.next_in = const_cast<Bytef *>(stream.data() + at);
        z.avail_in = static_cast<uInt>(n);
        at += n;
        chunkLeft -= n;
        return true;
    };
    const auto verdict = [&](bool accepted) {
        inflateEnd(&z);
        return accepted;
    };
    Bytes row(rowBytes);
    bool ended = false;
    for (std::size_t y = 0; y < rows; ++y) {
        if (ended) {
            return verdict(false);
        }
        z.next_out = row.data();
        z.avail_out = static_cast<uInt>(rowBytes);
        do {
            if (z.avail_in == 0 && !read()) {
                return verdict(false);
            }
            const int ret = inflate(&z, Z_NO_FLUSH);
            if (ret == Z_STREAM_END) {
                ended = true;
                break;
            }
            if (ret != Z_OK) {
                return verdict(false);
            }
        } while (z.avail_out > 0);
        if (z.avail_out > 0) {
            return verdict(false);
        }
        if (row[0] > 4) {
            *badFilter = true;
            return verdict(false);
        }
    }
    Bytes scratch(1024);
    std::size_t extra = 0;
    while (!ended) {
        if (z.avail_in == 0 && !read()) {
            return verdict(false);
        }
        z.next_out = scratch.data();
        z.avail_out = static_cast<uInt>(scratch.size());
        const int ret = inflate(&z, Z_NO_FLUSH);
        extra += scratch.size() - z.avail_out;
        if (ret != Z_OK || extra == 0) {
            break;
        }
    }
    return verdict(true);
}

// The stream's tail: once the rows are whole, what libpng refuses we refuse, rows decoded or only
// counted: cut anywhere (before, inside the check value), the last block's end hidden (its final
// bit cleared), a wrong check value, bits flipped near the end, bytes after it, over chunks of
// every kind of length (the check value alone in the last, a read of 8192 ending just before it).
TEST(PngInflate, StreamsEndAsLibpngJudgesThem) {
    using zav::CodecStatus;
    struct Case {
        std::size_t width, height;
        unsigned channels;
        int level;
    };
    const Case cases[] = {
        {50, 20, 3, 6}, {1, 1, 1, 6}, {7, 3, 2, 0}, {300, 40, 3, 9}, {9, 9, 4, 1}};
    uint32_t seed = 12345;
    int compared = 0, refused = 0;
    for (const Case &c : cases) {
        const Rows r = MakeRows(c.width, c.height, c.channels, 99 + c.width);
        const std::size_t rowBytes = c.width * c.channels + 1;
        // zlib's stream, and the same data sync-flushed before an empty last block (03 00).
        const Bytes plain = Zlib(r.filtered, c.level, Z_DEFAULT_STRATEGY);
        Bytes flushed;
        {
            z_stream z{};
            EXPECT_EQ(deflateInit(&z, c.level), Z_OK);
            flushed.resize(deflateBound(&z, r.filtered.size()) + 64);
            z.next_in = const_cast<Bytef *>(r.filtered.data());
            z.avail_in = static_cast<uInt>(r.filtered.size());
            z.next_out = flushed.data();
            z.avail_out = static_cast<uInt>(flushed.size());
            EXPECT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
            EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
            flushed.resize(z.total_out);
            deflateEnd(&z);
        }
        // The empty last block: fixed codes (03 00), or stored (01 00 00 FF FF) at level 0.
        const std::size_t last = flushed.size() - (c.level == 0 ? 9 : 6);
        ASSERT_EQ(flushed[last], c.level == 0 ? 0x01 : 0x03);
        for (const Bytes &good : {plain, flushed}) {
            std::vector<Bytes> variants;
            const std::size_t from = good.size() > 40 ? good.size() - 40 : 0;
            for (std::size_t cut = from; cut < good.size(); ++cut) {
                variants.emplace_back(good.begin(), good.begin() + cut);
            }
            Bytes v = good;
            v.back() ^= 1;  // the check value
            variants.push_back(v);
            v = good;
            v.insert(v.end(), {1, 2, 3});  // bytes after the end
            variants.push_back(v);
            if (&good == &flushed) {
                v = good;
                v[last] &= 0xFE;  // the last block not the last: the check value read as a block
                variants.push_back(v);
                for (uint8_t b : {0x00, 0x07, 0xFF, 0x5A}) {
                    v.insert(v.end() - 4, b);
                    variants.push_back(v);
                }
            }
            const std::size_t whole = variants.size();  // the rest are damaged near the end
            for (int i = 0; i < 60; ++i) {
                v = good;
                v[v.size() - 1 - Next(seed) % std::min<std::size_t>(v.size() - 2, 12)] ^=
                    static_cast<uint8_t>(1u << (Next(seed) % 8));
                variants.push_back(v);
            }
            for (std::size_t k = 0; k < variants.size(); ++k) {
                const Bytes &stream = variants[k];
                const bool intact = k < whole;
                for (std::size_t piece :
                     {std::size_t{3}, std::size_t{100}, stream.size() - 4, stream.size() - 1,
                      stream.size() > 8192 + 2 ? stream.size() - 2 : stream.size(),
                      std::size_t{1} << 20}) {
                    if (piece == 0 || (piece < 8 && stream.size() > 3000)) {
                        continue;
                    }
                    bool badFilter = false;
                    const bool accepts =
                        LibpngAccepts(stream, piece, rowBytes, c.height, &badFilter);
                    Bytes bgr;
                    const CodecStatus rows = Decode(r, stream, piece, &bgr);
                    Pieces pieces(stream, piece);
                    const CodecStatus counted =
                        zav::CheckPngStreamEnd(pieces, r.filtered.size(), rowBytes);
                    const std::string what =
                        std::to_string(c.width) + " x " + std::to_string(c.height) + ", " +
                        std::to_string(stream.size()) + " bytes of " + std::to_string(good.size()) +
                        ", pieces of " + std::to_string(piece);
                    EXPECT_EQ(rows, accepts ? CodecStatus::kOk : CodecStatus::kCorrupt) << what;
                    if (!badFilter) {  // counting looks at no filter byte
                        EXPECT_EQ(counted, rows) << what;
                    }
                    if (intact && rows == CodecStatus::kOk) {
                        EXPECT_TRUE(bgr == r.bgr) << what;
                    }
                    ++compared;
                    refused += accepts ? 0 : 1;
                }
            }
        }
    }
    // Both verdicts are well represented.
    EXPECT_GT(refused, compared / 5);
    EXPECT_LT(refused, compared * 4 / 5);
}

TEST(PngInflate, DamageBeforeTheLastRowFails) {
    using zav::CodecStatus;
    const Rows r = MakeRows(50, 20, 3, 99);
    const Bytes good = Zlib(r.filtered, 6, Z_DEFAULT_STRATEGY);
    Bytes bgr;
    ASSERT_EQ(Decode(r, good, 3, &bgr), CodecStatus::kOk);
    for (std::size_t cut = 0; cut + 40 < good.size(); ++cut) {
        EXPECT_EQ(Decode(r, Bytes(good.begin(), good.begin() + cut), 3, &bgr),
                  CodecStatus::kCorrupt)
            << "cut at " << cut;
    }
    Bytes bad = good;
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
