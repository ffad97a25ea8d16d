// The Windows bitmap entry of the format table.
#include <new>

#include "imaging/codecs/bmp_codec.h"
#include "imaging/codecs/filters.h"

namespace zav {

namespace {

class BmpFilter final : public ImageFormatFilter {
  public:
    std::string_view Description() const override { return "Windows bitmap (*.bmp;*.dib)"; }
    std::size_t SignatureLength() const override { return 2; }
    bool CheckSignature(const uint8_t *head, std::size_t size) const override {
        return size >= 2 && head[0] == 'B' && head[1] == 'M';
    }
    std::unique_ptr<ImageReader> NewReader(std::span<const uint8_t> file) const override {
        return std::unique_ptr<ImageReader>(new (std::nothrow) BmpReader(file));
    }
    std::unique_ptr<ImageReader> NewHeadReader(std::span<const uint8_t> head,
                                               uint64_t fileSize) const override {
        return std::unique_ptr<ImageReader>(new (std::nothrow) BmpReader(head, fileSize));
    }
    std::unique_ptr<ImageWriter> NewWriter() const override {
        return std::unique_ptr<ImageWriter>(new (std::nothrow) BmpWriter());
    }
};

}  // namespace

const ImageFormatFilter &BmpFormatFilter() {
    static const BmpFilter filter;
    return filter;
}

}  // namespace zav
