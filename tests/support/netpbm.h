// Netpbm files as the tools print and read them: the independent side of the interop tests.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/picture.h"

namespace zavtest {

// Reads P2, P3 (text), P4, P5 or P6 (raw), comments allowed, maxval up to 255 (samples scaled to
// 0..255 as netpbm does). Gives a blue-green-red picture, or a gray one for P2, P4 and P5 when
// `keepGray`; P4 bits of 1 are black. An empty picture (width 0) for anything else.
inline Picture ParseNetpbm(const std::vector<uint8_t> &file, bool keepGray = false) {
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
        long v = -1;
        while (pos < file.size() && isdigit(file[pos])) {
            v = (v < 0 ? 0 : v * 10) + (file[pos++] - '0');
            if (v > (1L << 24)) {
                return -1L;
            }
        }
        return v;
    };
    if (file.size() < 3 || file[0] != 'P' || file[1] < '2' || file[1] > '6') {
        return {};
    }
    const char kind = static_cast<char>(file[1]);
    const bool text = kind == '2' || kind == '3';
    const bool color = kind == '3' || kind == '6';
    pos = 2;
    const long w = number();
    const long h = number();
    const long maxval = kind == '4' ? 1 : number();
    if (w < 1 || h < 1 || maxval < 1 || maxval > 255) {
        return {};
    }
    ++pos;  // the single white space before raw samples
    const std::size_t row = kind == '4' ? (w + 7) / 8 : color ? w * 3 : w;
    if (!text && file.size() < pos + row * h) {
        return {};
    }
    Picture out(static_cast<int32_t>(w), static_cast<int32_t>(h), !color && keepGray ? 1 : 3);
    auto sample = [&](long y, long i) -> long {
        if (text) {
            return number();
        }
        return file[pos + row * y + i];
    };
    for (long y = 0; y < h; ++y) {
        for (long x = 0; x < w; ++x) {
            long rgb[3];
            if (kind == '4') {
                const long bit = (file[pos + row * y + x / 8] >> (7 - x % 8)) & 1;
                rgb[0] = rgb[1] = rgb[2] = bit ? 0 : 1;
            } else if (color) {
                for (long &v : rgb) {
                    v = sample(y, 3 * x + (&v - rgb));
                }
            } else {
                rgb[0] = rgb[1] = rgb[2] = sample(y, x);
            }
            for (long &v : rgb) {
                if (v < 0 || v > maxval) {
                    return {};
                }
                v = (v * 255 + maxval / 2) / maxval;
            }
            if (out.channels == 1) {
                out.At(x, y, 0) = static_cast<uint8_t>(rgb[1]);
            } else {
                out.At(x, y, 0) = static_cast<uint8_t>(rgb[2]);
                out.At(x, y, 1) = static_cast<uint8_t>(rgb[1]);
                out.At(x, y, 2) = static_cast<uint8_t>(rgb[0]);
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

}  // namespace zavtest
