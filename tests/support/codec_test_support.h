// Helpers for codec tests: pictures in padded buffers, decoding through a filter, temporary files,
// the command-line tools of Debian's image packages, and raw netpbm files.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/codecs/codec.h"

namespace zav::testing {

// An 8-bit picture with rows padded to 4 bytes, as the component lays out its buffers.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 3;
    std::size_t step = 0;
    std::vector<uint8_t> bytes;

    Picture() = default;
    Picture(int32_t w, int32_t h, int32_t c)
        : width(w), height(h), channels(c), step((static_cast<std::size_t>(w) * c + 3) & ~3u) {
        bytes.assign(step * h, 0);
    }
    uint8_t *Row(int32_t y) { return bytes.data() + step * y; }
    const uint8_t *Row(int32_t y) const { return bytes.data() + step * y; }
    uint8_t &At(int32_t x, int32_t y, int32_t c) { return Row(y)[x * channels + c]; }
    uint8_t At(int32_t x, int32_t y, int32_t c) const { return Row(y)[x * channels + c]; }

    WriteRequest Request(float quality = 2.0f) const {
        WriteRequest r;
        r.pixels = bytes.data();
        r.step = step;
        r.width = width;
        r.height = height;
        r.color = channels == 3;
        r.quality = quality;
        return r;
    }
};

// A picture with varied content: gradients and a few hard edges. Padding bytes hold a marker.
inline Picture Pattern(int32_t w, int32_t h, int32_t channels, uint32_t seed = 1) {
    Picture p(w, h, channels);
    std::fill(p.bytes.begin(), p.bytes.end(), uint8_t{0xA5});
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            for (int32_t c = 0; c < channels; ++c) {
                uint32_t v = (x * (37 + 11 * c) + y * (53 + 7 * c) + seed * 29 * (c + 1)) & 0xFF;
                if (((x / 5) + (y / 3)) % 7 == 0) {
                    v ^= 0x80;
                }
                p.At(x, y, c) = static_cast<uint8_t>(v);
            }
        }
    }
    return p;
}

// A gray picture expanded to the blue-green-red form a reader produces.
inline Picture GrayToBgr(const Picture &gray) {
    Picture out(gray.width, gray.height, 3);
    for (int32_t y = 0; y < gray.height; ++y) {
        for (int32_t x = 0; x < gray.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                out.At(x, y, c) = gray.At(x, y, 0);
            }
        }
    }
    return out;
}

// True when both pictures have the same geometry and pixels (padding ignored).
inline ::testing::AssertionResult SamePixels(const Picture &a, const Picture &b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) {
        return ::testing::AssertionFailure()
               << "geometry " << a.width << "x" << a.height << "x" << a.channels << " vs "
               << b.width << "x" << b.height << "x" << b.channels;
    }
    for (int32_t y = 0; y < a.height; ++y) {
        for (int32_t x = 0; x < a.width * a.channels; ++x) {
            if (a.Row(y)[x] != b.Row(y)[x]) {
                return ::testing::AssertionFailure()
                       << "byte " << x << " of row " << y << ": " << int{a.Row(y)[x]} << " vs "
                       << int{b.Row(y)[x]};
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Largest absolute difference of two pictures of the same geometry (255 when they differ in it).
inline int MaxDifference(const Picture &a, const Picture &b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) {
        return 255;
    }
    int worst = 0;
    for (int32_t y = 0; y < a.height; ++y) {
        for (int32_t x = 0; x < a.width * a.channels; ++x) {
            worst = std::max(worst, std::abs(int{a.Row(y)[x]} - int{b.Row(y)[x]}));
        }
    }
    return worst;
}

// The result of decoding a file through a filter's reader.
struct Decoded {
    CodecStatus header = CodecStatus::kCorrupt;
    CodecStatus data = CodecStatus::kCorrupt;
    ImageInfo info;
    Picture picture;
    bool ok() const { return header == CodecStatus::kOk && data == CodecStatus::kOk; }
};

// Decodes a whole file; a picture of more than `max_pixels` pixels stops after the header step.
inline Decoded Decode(const ImageFormat &filter, const std::vector<uint8_t> &file,
                      int64_t max_pixels = int64_t{1} << 24) {
    Decoded d;
    auto reader = filter.newReader(std::span<const uint8_t>(file.data(), file.size()));
    if (!reader) {
        return d;
    }
    d.header = reader->ReadHeader(&d.info);
    if (d.header != CodecStatus::kOk) {
        return d;
    }
    if (int64_t{d.info.width} * d.info.height > max_pixels) {
        d.data = CodecStatus::kTooLarge;
        return d;
    }
    d.picture = Picture(d.info.width, d.info.height, 3);
    d.data = reader->ReadData(d.picture.bytes.data(), d.picture.step);
    return d;
}

inline std::vector<uint8_t> Encode(const ImageFormat &filter, const WriteRequest &request,
                                   CodecStatus *status = nullptr) {
    VectorSink sink;
    auto writer = filter.newWriter();
    const CodecStatus s = writer ? writer->Write(request, sink) : CodecStatus::kNoMemory;
    if (status != nullptr) {
        *status = s;
    }
    return s == CodecStatus::kOk ? sink.data : std::vector<uint8_t>{};
}

// A temporary folder, removed with its files at the end of the test.
class TempDir {
  public:
    TempDir() {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/zavcodec.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) != nullptr) {
            path_ = buf.data();
        }
    }
    ~TempDir() {
        if (!path_.empty()) {
            const std::string cmd = "rm -rf '" + path_ + "'";
            [[maybe_unused]] int rc = std::system(cmd.c_str());
        }
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string File(const std::string &name) const { return path_ + "/" + name; }
    bool ok() const { return !path_.empty(); }

  private:
    std::string path_;
};

inline void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Runs a shell command with its standard error silenced; true when it exits with 0.
inline bool RunTool(const std::string &command) {
    const std::string cmd = "(" + command + ") 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
}

// True when a program is installed.
inline bool HaveTool(const std::string &name) {
    return RunTool("command -v " + name + " >/dev/null");
}

// ImageMagick's own convert, not any wrapper that may come first on the path.
inline std::string ImageMagick() {
    return access("/usr/bin/convert-im6.q16", X_OK) == 0 ? "/usr/bin/convert-im6.q16" : "convert";
}

// Reads a raw netpbm file (P4, P5 or P6, maximum 255) into a blue-green-red picture, or a gray
// one when `keep_gray` and the file is P4 or P5. Empty picture on any other input.
inline Picture ParseNetpbm(const std::vector<uint8_t> &file, bool keep_gray = false) {
    std::size_t pos = 0;
    auto skip = [&] {
        while (pos < file.size()) {
            if (file[pos] == '#') {
                while (pos < file.size() && file[pos] != '\n') {
                    ++pos;
                }
            } else if (isspace(file[pos])) {
                ++pos;
            } else {
                break;
            }
        }
    };
    auto number = [&] {
        skip();
        long v = 0;
        while (pos < file.size() && isdigit(file[pos])) {
            v = v * 10 + (file[pos++] - '0');
        }
        return v;
    };
    if (file.size() < 3 || file[0] != 'P') {
        return {};
    }
    const char kind = static_cast<char>(file[1]);
    pos = 2;
    const long w = number();
    const long h = number();
    const long maxval = kind == '4' ? 1 : number();
    ++pos;  // the single white space before the samples
    if (w < 1 || h < 1 || maxval != (kind == '4' ? 1 : 255)) {
        return {};
    }
    const bool gray = kind != '6';
    Picture out(static_cast<int32_t>(w), static_cast<int32_t>(h), gray && keep_gray ? 1 : 3);
    const std::size_t row = kind == '4' ? (w + 7) / 8 : kind == '5' ? w : w * 3;
    if (file.size() < pos + row * h) {
        return {};
    }
    for (long y = 0; y < h; ++y) {
        const uint8_t *s = file.data() + pos + row * y;
        for (long x = 0; x < w; ++x) {
            uint8_t b, g, r;
            if (kind == '4') {
                b = g = r = ((s[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
            } else if (kind == '5') {
                b = g = r = s[x];
            } else {
                r = s[3 * x];
                g = s[3 * x + 1];
                b = s[3 * x + 2];
            }
            if (out.channels == 1) {
                out.At(x, y, 0) = g;
            } else {
                out.At(x, y, 0) = b;
                out.At(x, y, 1) = g;
                out.At(x, y, 2) = r;
            }
        }
    }
    return out;
}

// Writes a picture as a raw netpbm file: P5 for one channel, P6 (red, green, blue) for three.
inline std::vector<uint8_t> ToNetpbm(const Picture &p) {
    const std::string head = std::string(p.channels == 1 ? "P5" : "P6") + "\n" +
                             std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    std::vector<uint8_t> out(head.begin(), head.end());
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            if (p.channels == 1) {
                out.push_back(p.At(x, y, 0));
            } else {
                out.push_back(p.At(x, y, 2));
                out.push_back(p.At(x, y, 1));
                out.push_back(p.At(x, y, 0));
            }
        }
    }
    return out;
}

}  // namespace zav::testing
