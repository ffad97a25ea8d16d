// Images owned by the tool: load, save and release through the C interface.
#include <cstdio>
#include <utility>

#include "tools/zavimage/cli.h"

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

std::string LastFileError(ZAVImageObject *obj) {
    const char *text = ZAVFileStatusText(ZAVGetFileStatus(obj));
    return text != nullptr ? text : "failed";
}

std::optional<FileError> Image::Load(const std::string &path) {
    Reset();
    ZAVImageStruct loaded{};
    if (ZAVLoadImageUtf8(m_obj, path.c_str(), &loaded) != 0) {
        return FileError{LastFileError(m_obj), {}};
    }
    m_record = loaded;
    return std::nullopt;
}

std::optional<FileError> Image::Save(const std::string &path) const {
    if (ZAVSaveImageUtf8(m_obj, path.c_str(), m_record.data, m_record.width, m_record.height,
                         m_record.depth, m_record.channels) != 0) {
        return FileError{LastFileError(m_obj), {}};
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

void PrintError(std::string_view message) {
    std::fprintf(stderr, "zavimage: %.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace zavtool
