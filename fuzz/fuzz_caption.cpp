// Fuzzes captions: the bytes after a 12-byte head are the text, drawn by the classic caption as
// UTF-8 and in the user's encoding (GBK here), and by the typographic caption (drawn and measured);
// the head picks a small buffer (exactly its size, so a stray write is caught), the position, the
// sizes and the style.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/caption.h"
#include "text/typo_caption.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool gbk = [] { return setenv("LC_ALL", "zh_CN.GBK", 1) == 0; }();
    (void)gbk;
    if (size < 12) {
        return 0;
    }
    const int32_t width = 1 + data[0] % 48, height = 1 + data[1] % 48;
    static const int32_t kChannels[] = {1, 3, 4, 2};
    const int32_t channels = kChannels[data[2] % 4];
    const int32_t depth = (data[2] & 0x10) != 0 ? ZAV_DEPTH_16S : ZAV_DEPTH_8U;
    const int32_t x = static_cast<int8_t>(data[3]) * 2, y = static_cast<int8_t>(data[4]) * 2 + 10;
    const std::string text(reinterpret_cast<const char *>(data) + 12, size - 12);

    const int64_t stride = ((int64_t{depth & 0xFF} * width * channels + 7) / 8 + 3) & ~int64_t{3};
    std::vector<uint8_t> pixels(static_cast<std::size_t>(stride * height), 0x5A);
    ZAVImageStruct record{width, height, depth, channels, pixels.data()};

    const float fSize = 1.0f + static_cast<float>(data[5] % 40) + static_cast<float>(data[5]) / 256;
    const float charSpace = static_cast<float>(static_cast<int8_t>(data[6])) / 64.0f;
    const auto *bytes = reinterpret_cast<const uint8_t *>(text.c_str());
    zav::PutCaption(&record, bytes, x, y, data[7] % 4, fSize, charSpace, 0.0f, nullptr,
                    zav::TextEncoding::kUtf8);
    zav::PutCaption(&record, bytes, x, y, data[7] % 4, fSize, charSpace, 0.0f, nullptr,
                    zav::TextEncoding::kUserDefault);

    ZAVTextStyle style;
    zav::DefaultTextStyle(&style);
    style.pixelSize = 1.0f + static_cast<float>(data[8] % 48);
    style.outlineWidth = static_cast<float>(data[9] & 7) / 2.0f;
    style.flags = (data[9] & 8) != 0 ? ZAV_TEXT_MONO : 0;
    style.letterSpacing = static_cast<float>(static_cast<int8_t>(data[6])) / 16.0f;
    style.lineSpacing = static_cast<float>(data[9] >> 4) / 4.0f;
    style.hAnchor = data[10] % 3;
    style.vAnchor = (data[10] / 3) % 3;
    style.color = data[7] * 0x010203u;
    style.opacity = static_cast<float>(data[11]) / 255.0f;
    style.backgroundOpacity = (data[11] & 1) != 0 ? 0.5f : 0.0f;
    style.backgroundPadding = data[10] >> 4;
    zav::TypoCaption(&record, text.c_str(), x, y, &style, nullptr, nullptr);
    ZAVTextMetrics metrics;
    zav::TypoCaption(nullptr, text.c_str(), x, y, &style, nullptr, &metrics);
    return 0;
}
