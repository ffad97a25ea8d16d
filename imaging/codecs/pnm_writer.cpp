#include "imaging/codecs/pnm.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace zav {

namespace {

// Every sample value as a right-aligned field of four characters.
using Field = std::array<char, 4>;

constexpr std::array<Field, 256> MakeFields() {
    std::array<Field, 256> fields{};
    for (int v = 0; v < 256; ++v) {
        Field f = {' ', ' ', ' ', ' '};
        int n = v;
        int i = 3;
        do {
            f[i--] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n > 0);
        fields[v] = f;
    }
    return fields;
}

constexpr std::array<Field, 256> kFields = MakeFields();

}  // namespace

CodecStatus PnmWriter::Write(const WriteRequest &request, ByteSink &sink) {
    if (request.pixels == nullptr || request.width < 1 || request.height < 1) {
        return CodecStatus::kCorrupt;
    }
    char header[64];
    const int headerBytes = std::snprintf(header, sizeof header, "P%c\n%d %d\n255\n",
                                          request.color ? '3' : '2', request.width, request.height);
    if (!sink.Write(header, static_cast<std::size_t>(headerBytes))) {
        return CodecStatus::kIoError;
    }
    // A colour pixel takes 14 characters (three fields and two spaces), a gray one 4.
    const auto width = static_cast<std::size_t>(request.width);
    const std::size_t lineBytes = width * (request.color ? 14 : 4) + 1;
    const std::unique_ptr<char[]> line(new (std::nothrow) char[lineBytes]);
    if (!line) {
        return CodecStatus::kNoMemory;
    }
    line[lineBytes - 1] = '\n';
    for (int32_t y = 0; y < request.height; ++y) {
        const uint8_t *src = request.pixels + static_cast<std::size_t>(y) * request.step;
        char *out = line.get();
        if (request.color) {
            for (std::size_t x = 0; x < width; ++x, src += 3, out += 14) {
                std::memcpy(out, kFields[src[2]].data(), 4);
                std::memcpy(out + 4, kFields[src[1]].data(), 4);
                std::memcpy(out + 8, kFields[src[0]].data(), 4);
                out[12] = ' ';
                out[13] = ' ';
            }
        } else {
            for (std::size_t x = 0; x < width; ++x, out += 4) {
                std::memcpy(out, kFields[src[x]].data(), 4);
            }
        }
        if (!sink.Write(line.get(), lineBytes)) {
            return CodecStatus::kIoError;
        }
    }
    return CodecStatus::kOk;
}

std::unique_ptr<ImageWriter> NewPnmWriter() {
    return std::unique_ptr<ImageWriter>(new (std::nothrow) PnmWriter());
}

}  // namespace zav
