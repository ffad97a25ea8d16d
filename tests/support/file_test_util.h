// Helpers for the file tests: a temporary folder, whole-file reading and writing, external tools,
// test pictures and a small reader for the plain and raw PNM text that netpbm tools print.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace zavtest {

// A folder of its own under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        const char *base = getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zavfiles.XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempDir() {
        if (!path_.empty()) {
            const std::string command =
                "chmod -R u+rwX '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
            [[maybe_unused]] const int rc = std::system(command.c_str());
        }
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline bool FileExists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Files in a folder, "." and ".." left out.
inline std::vector<std::string> ListFolder(const std::string &path) {
    std::vector<std::string> names;
    const std::string command = "ls -A '" + path + "'";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return names;
    }
    char line[4096];
    while (fgets(line, sizeof line, pipe) != nullptr) {
        std::string name(line);
        while (!name.empty() && name.back() == '\n') {
            name.pop_back();
        }
        names.push_back(name);
    }
    pclose(pipe);
    return names;
}

// Runs a shell command; true when it exits with 0.
inline bool Shell(const std::string &command) {
    return std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()) == 0;
}

inline bool HaveTool(const std::string &name) {
    return Shell("command -v " + name);
}

// ImageMagick's convert from Debian.
inline std::string ConvertTool() {
    return FileExists("/usr/bin/convert") ? "/usr/bin/convert" : "convert";
}

inline std::string Quote(const std::string &path) {
    return "'" + path + "'";
}

// A picture as rows of 8-bit samples at the component's stride ((width * channels + 3) & ~3).
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 3;
    std::vector<uint8_t> data;

    std::size_t Stride() const { return (static_cast<std::size_t>(width) * channels + 3) & ~3u; }
    uint8_t *Row(int32_t y) { return data.data() + y * Stride(); }
    const uint8_t *Row(int32_t y) const { return data.data() + y * Stride(); }
};

// A picture whose samples differ from pixel to pixel and channel to channel; padding bytes hold
// 0xEE so that a reader of padding shows up.
inline Picture Pattern(int32_t width, int32_t height, int32_t channels) {
    Picture p{width, height, channels, {}};
    p.data.assign(p.Stride() * height, 0xEE);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t c = 0; c < channels; ++c) {
                p.Row(y)[x * channels + c] = static_cast<uint8_t>(x * 37 + y * 91 + c * 53 + 11);
            }
        }
    }
    return p;
}

// A colour picture drawn from a palette of `colors` BGR colours.
inline Picture PalettePattern(int32_t width, int32_t height, int colors) {
    Picture p{width, height, 3, {}};
    p.data.assign(p.Stride() * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int i = (x * 7 + y * 3) % colors;
            uint8_t *px = p.Row(y) + 3 * x;
            px[0] = static_cast<uint8_t>(i * 67 + 5);
            px[1] = static_cast<uint8_t>(255 - i * 29);
            px[2] = static_cast<uint8_t>(i * 151 + 90);
        }
    }
    return p;
}

// Reads P2, P3, P5 or P6 as netpbm tools print them (no comments) into a 3-channel BGR picture;
// gray samples go to all three channels. Samples are scaled to 0..255 when maxval differs.
inline bool ParsePnm(const std::vector<uint8_t> &bytes, Picture *out) {
    std::string header(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 64));
    std::istringstream in(header);
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    if (!(in >> magic >> w >> h >> maxval) || w < 1 || h < 1 || maxval < 1 || maxval > 255) {
        return false;
    }
    const bool color = magic == "P3" || magic == "P6";
    const bool raw = magic == "P5" || magic == "P6";
    out->width = w;
    out->height = h;
    out->channels = 3;
    out->data.assign(out->Stride() * h, 0);
    const std::size_t samples = static_cast<std::size_t>(w) * h * (color ? 3 : 1);
    std::vector<int> values;
    if (raw) {
        const std::size_t start = static_cast<std::size_t>(in.tellg()) + 1;
        if (bytes.size() < start + samples) {
            return false;
        }
        values.assign(bytes.begin() + start, bytes.begin() + start + samples);
    } else {
        std::istringstream text(std::string(bytes.begin(), bytes.end()));
        text >> magic >> w >> h >> maxval;
        int v;
        while (values.size() < samples && text >> v) {
            values.push_back(v);
        }
        if (values.size() != samples) {
            return false;
        }
    }
    std::size_t i = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t *px = out->Row(y) + 3 * x;
            for (int c = 0; c < (color ? 3 : 1); ++c) {
                const int v = (values[i++] * 255 + maxval / 2) / maxval;
                if (color) {
                    px[2 - c] = static_cast<uint8_t>(v);
                } else {
                    px[0] = px[1] = px[2] = static_cast<uint8_t>(v);
                }
            }
        }
    }
    return true;
}

// The raw P6 bytes of a BGR picture (or P5 of a gray one).
inline std::vector<uint8_t> RawPnm(const Picture &p) {
    const std::string header = std::string(p.channels == 3 ? "P6" : "P5") + "\n" +
                               std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            const uint8_t *px = p.Row(y) + p.channels * x;
            if (p.channels == 3) {
                out.insert(out.end(), {px[2], px[1], px[0]});
            } else {
                out.push_back(px[0]);
            }
        }
    }
    return out;
}

// The picture as 3-channel BGR (gray samples repeated), as a load gives it.
inline Picture AsColor(const Picture &p) {
    if (p.channels == 3) {
        return p;
    }
    Picture c{p.width, p.height, 3, {}};
    c.data.assign(c.Stride() * c.height, 0);
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            const uint8_t v = p.Row(y)[x];
            c.Row(y)[3 * x] = c.Row(y)[3 * x + 1] = c.Row(y)[3 * x + 2] = v;
        }
    }
    return c;
}

}  // namespace zavtest
