// The Sun raster entry of the format table.
#include "imaging/codecs/filters.h"
#include "imaging/codecs/sun_raster_format.h"
#include "imaging/codecs/sun_raster_reader.h"
#include "imaging/codecs/sun_raster_writer.h"

namespace zav {
namespace {

class SunRasterFilter final : public ImageFormatFilter {
  public:
    std::string_view Description() const override { return "Sun raster files (*.sr;*.ras)"; }
    std::size_t SignatureLength() const override { return 4; }
    bool CheckSignature(const uint8_t *head, std::size_t size) const override {
        return size >= 4 && sunras::LoadBigEndian32(head) == sunras::kMagic;
    }
    std::unique_ptr<ImageReader> NewReader(std::span<const uint8_t> file) const override {
        return NewSunRasterReader(file);
    }
    std::unique_ptr<ImageReader> NewHeadReader(std::span<const uint8_t> head,
                                               uint64_t fileSize) const override {
        return NewSunRasterHeadReader(head, fileSize);
    }
    std::unique_ptr<ImageWriter> NewWriter() const override { return NewSunRasterWriter(); }
};

}  // namespace

const ImageFormatFilter &SunRasterFormatFilter() {
    static const SunRasterFilter filter;
    return filter;
}

}  // namespace zav
