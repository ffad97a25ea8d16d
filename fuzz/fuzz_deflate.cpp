// Fuzzes the PNG writer's deflate encoder (deflate_encoder.h): the input, compressed in pieces of
// a length its first byte chooses (1 to 256 times 64 bytes) at 1 to 4 bytes a pixel (its second),
// must inflate through libdeflate, an independent decoder, to exactly the input.
#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/codecs/deflate_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t piece = (std::size_t{data[0]} + 1) * 64;
    const unsigned pixelBytes = data[1] % 4 + 1;
    data += 2;
    size -= 2;
    zav::RowDeflater deflater;
    if (!deflater.Init(piece, pixelBytes)) {
        return 0;
    }
    std::vector<uint8_t> buffer(zav::kDeflateHistory + piece + zav::kDeflateTail);
    std::vector<uint8_t> stream;
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(piece, size - at);
        if (at != 0) {
            std::memcpy(buffer.data(), data + at - zav::kDeflateHistory, zav::kDeflateHistory);
        }
        std::memcpy(buffer.data() + zav::kDeflateHistory, data + at, n);
        at += n;
        deflater.Compress(buffer.data() + zav::kDeflateHistory, n, at == size);
        stream.insert(stream.end(), deflater.Output(), deflater.Output() + deflater.OutputBytes());
        deflater.Take();
    } while (at < size);
    libdeflate_decompressor *inflater = libdeflate_alloc_decompressor();
    if (inflater == nullptr) {
        return 0;
    }
    std::vector<uint8_t> back(size + 1);
    std::size_t produced = 0;
    const libdeflate_result result = libdeflate_zlib_decompress(
        inflater, stream.data(), stream.size(), back.data(), back.size(), &produced);
    libdeflate_free_decompressor(inflater);
    if (result != LIBDEFLATE_SUCCESS || produced != size ||
        (size != 0 && std::memcmp(back.data(), data, size) != 0)) {
        std::abort();
    }
    return 0;
}
