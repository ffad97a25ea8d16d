// The JPEG entry of the format table.
#include "imaging/codecs/filters.h"
#include "imaging/codecs/jpeg_reader.h"
#include "imaging/codecs/jpeg_writer.h"

namespace zav {
namespace {

class JpegFilter final : public ImageFormatFilter {
  public:
    std::string_view Description() const override { return "JPEG files (*.jpeg;*.jpg;*.jpe)"; }
    std::size_t SignatureLength() const override { return 3; }
    bool CheckSignature(const uint8_t *head, std::size_t size) const override {
        return size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
    }
    std::unique_ptr<ImageReader> NewReader(std::span<const uint8_t> file) const override {
        return NewJpegReader(file);
    }
    std::unique_ptr<ImageWriter> NewWriter() const override { return NewJpegWriter(); }
};

}  // namespace

const ImageFormatFilter &JpegFormatFilter() {
    static const JpegFilter filter;
    return filter;
}

}  // namespace zav
