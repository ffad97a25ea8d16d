// The PNG writer: libspng, row by row, straight into the sink.
#include <spng.h>

#include <memory>
#include <new>

#include "imaging/codecs/byte_order.h"
#include "imaging/codecs/png.h"

namespace zav {

namespace {

struct ContextFree {
    void operator()(spng_ctx *ctx) const { spng_ctx_free(ctx); }
};

// libspng's output, passed on to the sink.
int WriteToSink(spng_ctx *, void *user, void *bytes, std::size_t size) {
    return static_cast<ByteSink *>(user)->Write(bytes, size) ? 0 : SPNG_IO_ERROR;
}

class PngWriter final : public ImageWriter {
  public:
    CodecStatus Write(const WriteRequest &request, ByteSink &sink) override {
        if (request.pixels == nullptr || request.width < 1 || request.height < 1) {
            return CodecStatus::kCorrupt;
        }
        const std::size_t width = static_cast<std::size_t>(request.width);
        const std::size_t rowBytes = request.color ? width * 3 : width;
        std::unique_ptr<uint8_t[]> rgb;
        if (request.color) {
            rgb.reset(new (std::nothrow) uint8_t[rowBytes]);
            if (!rgb) {
                return CodecStatus::kNoMemory;
            }
        }
        const std::unique_ptr<spng_ctx, ContextFree> owner(spng_ctx_new(SPNG_CTX_ENCODER));
        spng_ctx *ctx = owner.get();
        if (ctx == nullptr) {
            return CodecStatus::kNoMemory;
        }
        spng_ihdr ihdr{};
        ihdr.width = static_cast<uint32_t>(request.width);
        ihdr.height = static_cast<uint32_t>(request.height);
        ihdr.bit_depth = 8;
        ihdr.color_type = request.color ? SPNG_COLOR_TYPE_TRUECOLOR : SPNG_COLOR_TYPE_GRAYSCALE;
        int error = spng_set_png_stream(ctx, WriteToSink, &sink);
        if (error == SPNG_OK) {
            error = spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, kPngCompressionLevel);
        }
        if (error == SPNG_OK) {
            error = spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_UP);
        }
        if (error == SPNG_OK) {
            error = spng_set_ihdr(ctx, &ihdr);
        }
        if (error == SPNG_OK) {
            error = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG,
                                      SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
        }
        for (int32_t y = 0; y < request.height && error == SPNG_OK; ++y) {
            const uint8_t *row = request.pixels + static_cast<std::size_t>(y) * request.step;
            if (request.color) {
                SwapRedBlue(row, rgb.get(), width);
                row = rgb.get();
            }
            error = spng_encode_row(ctx, row, rowBytes);
        }
        if (error == SPNG_EOI) {
            return CodecStatus::kOk;
        }
        if (error == SPNG_IO_ERROR) {
            return CodecStatus::kIoError;
        }
        return error == SPNG_EMEM ? CodecStatus::kNoMemory : CodecStatus::kCorrupt;
    }
};

}  // namespace

std::unique_ptr<ImageWriter> NewPngWriter() {
    return std::unique_ptr<ImageWriter>(new (std::nothrow) PngWriter());
}

}  // namespace zav
