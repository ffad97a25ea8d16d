// Images owned by the tool: load, save and release through the C interface.
#include <cstdio>
#include <utility>

#include "tools/zavimage/cli.h"

namespace zavtool {

Image::Image(Image &&other) noexcept : obj_(other.obj_), record_(other.record_) {
    other.record_ = ZAVImageStruct{};
}

Image &Image::operator=(Image &&other) noexcept {
    if (this != &other) {
        Reset();
        obj_ = other.obj_;
        record_ = other.record_;
        other.record_ = ZAVImageStruct{};
    }
    return *this;
}

void Image::Reset() {
    if (record_.data != nullptr) {
        ZAVImageStruct *p = &record_;
        ZAVReleaseImage(obj_, &p);
    }
    record_ = ZAVImageStruct{};
}

std::string LastFileError(ZAVImageObject *obj) {
    const char *text = ZAVFileStatusText(ZAVGetFileStatus(obj));
    return text != nullptr ? text : "failed";
}

std::optional<FileError> Image::Load(const std::string &path) {
    Reset();
    ZAVImageStruct loaded{};
    if (ZAVLoadImageUtf8(obj_, path.c_str(), &loaded) != 0) {
        return FileError{LastFileError(obj_), {}};
    }
    record_ = loaded;
    return std::nullopt;
}

std::optional<FileError> Image::Save(const std::string &path) const {
    if (ZAVSaveImageUtf8(obj_, path.c_str(), record_.data, record_.width, record_.height,
                         record_.depth, record_.channels) != 0) {
        return FileError{LastFileError(obj_), {}};
    }
    return std::nullopt;
}

bool Image::Create(int32_t width, int32_t height, int32_t channels) {
    Reset();
    ZAVImageStruct created{};
    ZAVCreateImage(obj_, width, height, ZAV_DEPTH_8U, channels, &created);
    if (created.data == nullptr) {
        return false;
    }
    record_ = created;
    return true;
}

void PrintError(std::string_view message) {
    std::fprintf(stderr, "zavimage: %.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace zavtool
