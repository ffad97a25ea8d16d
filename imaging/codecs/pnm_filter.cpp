// The portable bitmap/graymap/pixmap entry of the format table.
#include <new>

#include "imaging/codecs/filters.h"
#include "imaging/codecs/pnm_codec.h"

namespace zav {

namespace {

class PnmFilter final : public ImageFormatFilter {
  public:
    std::string_view Description() const override {
        return "Portable image format (*.pbm;*.pgm;*.ppm)";
    }
    std::size_t SignatureLength() const override { return 3; }
    // "P", a digit from 1 to 6, then white space.
    bool CheckSignature(const uint8_t *head, std::size_t size) const override {
        if (size < 3 || head[0] != 'P' || head[1] < '1' || head[1] > '6') {
            return false;
        }
        switch (head[2]) {
            case ' ':
            case '\t':
            case '\n':
            case '\v':
            case '\f':
            case '\r':
                return true;
            default:
                return false;
        }
    }
    std::unique_ptr<ImageReader> NewReader(std::span<const uint8_t> file) const override {
        return std::unique_ptr<ImageReader>(new (std::nothrow) PnmReader(file));
    }
    std::unique_ptr<ImageWriter> NewWriter() const override {
        return std::unique_ptr<ImageWriter>(new (std::nothrow) PnmWriter());
    }
};

}  // namespace

const ImageFormatFilter &PnmFormatFilter() {
    static const PnmFilter filter;
    return filter;
}

}  // namespace zav
