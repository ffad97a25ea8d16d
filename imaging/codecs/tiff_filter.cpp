// The TIFF entry of the format table.
#include "imaging/codecs/filters.h"
#include "imaging/codecs/tiff_reader.h"
#include "imaging/codecs/tiff_writer.h"

namespace zav {
namespace {

class TiffFilter final : public ImageFormatFilter {
  public:
    std::string_view Description() const override { return "TIFF Files (*.tiff;*.tif)"; }
    std::size_t SignatureLength() const override { return 4; }
    bool CheckSignature(const uint8_t *head, std::size_t size) const override {
        if (size < 4) {
            return false;
        }
        const bool little = head[0] == 0x49 && head[1] == 0x49 && head[2] == 0x2A && head[3] == 0;
        const bool big = head[0] == 0x4D && head[1] == 0x4D && head[2] == 0 && head[3] == 0x2A;
        return little || big;
    }
    std::unique_ptr<ImageReader> NewReader(std::span<const uint8_t> file) const override {
        return NewTiffReader(file);
    }
    std::unique_ptr<ImageReader> NewSourceReader(FileSource &source) const override {
        return NewTiffReader(source);
    }
    std::unique_ptr<ImageWriter> NewWriter() const override { return NewTiffWriter(); }
};

}  // namespace

const ImageFormatFilter &TiffFormatFilter() {
    static const TiffFilter filter;
    return filter;
}

}  // namespace zav
