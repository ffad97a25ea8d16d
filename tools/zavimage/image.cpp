// Images owned by the tool: load, save and release through the C interface.
#include "tools/zavimage/image.h"

#include <cstdio>
#include <utility>

#include "zavimage/job.h"

namespace zavtool {

Image::Image(Image &&other) noexcept : m_obj(other.m_obj), m_record(other.m_record) {
    other.m_record = ZAVImageStruct{};
}

Image &Image::operator=(Image &&other) noexcept {
    if (this != &other) {
        Reset();
        m_obj = other.m_obj;
        m_record = other.m_record;
        other.m_record = ZAVImageStruct{};
    }
    return *this;
}

void Image::Reset() {
    if (m_record.data != nullptr) {
        ZAVImageStruct *p = &m_record;
        ZAVReleaseImage(m_obj, &p);
    }
    m_record = ZAVImageStruct{};
}

std::optional<std::string> Image::Load(const std::string &path) {
    Reset();
    ZAVImageStruct loaded{};
    if (ZAVLoadImagePath(m_obj, path.c_str(), &loaded) != 0) {
        return ReadFailure(m_obj, path);
    }
    m_record = loaded;
    return std::nullopt;
}

std::optional<std::string> Image::LoadMemory(const std::vector<uint8_t> &bytes) {
    Reset();
    ZAVImageStruct loaded{};
    if (ZAVLoadImageMemory(m_obj, bytes.data(), bytes.size(), &loaded) != 0) {
        return ZAVFileStatusText(ZAVGetFileStatus(m_obj));
    }
    m_record = loaded;
    return std::nullopt;
}

std::optional<std::string> Image::Save(const std::string &path) const {
    if (ZAVSaveImagePath(m_obj, path.c_str(), m_record.data, m_record.width, m_record.height,
                         m_record.depth, m_record.channels) != 0) {
        return ZAVFileFailureText(m_obj, path.c_str(), 1);
    }
    return std::nullopt;
}

bool Image::Create(int32_t width, int32_t height, int32_t channels) {
    Reset();
    ZAVImageStruct created{};
    ZAVCreateImage(m_obj, width, height, ZAV_DEPTH_8U, channels, &created);
    if (created.data == nullptr) {
        return false;
    }
    m_record = created;
    return true;
}

std::string ReadFailure(ZAVImageObject *obj, const std::string &path) {
    return ZAVFileFailureText(obj, path.c_str(), 0);
}

void PrintError(std::string_view message) {
    std::fprintf(stderr, "zavimage: %.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace zavtool
