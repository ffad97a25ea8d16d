// Images owned by the tool: load, save, gray conversion and release through the C interface.
#include "tools/zavimage/image.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "tools/zavimage/streams.h"

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

std::optional<std::string> Image::WriteToStandardOutput(const std::string &format) const {
    uint8_t *bytes = nullptr;
    std::size_t size = 0;
    if (ZAVSaveImageMemory(m_obj, format.c_str(), m_record.data, m_record.width, m_record.height,
                           m_record.depth, m_record.channels, &bytes, &size) != 0) {
        return ZAVFileStatusText(ZAVGetFileStatus(m_obj));
    }
    std::optional<std::string> error = WriteStandardOutput(bytes, size);
    ZAVFreeMemory(bytes);
    return error;
}

std::optional<std::string> Image::Save(const std::string &path) const {
    if (ZAVSaveImagePath(m_obj, path.c_str(), m_record.data, m_record.width, m_record.height,
                         m_record.depth, m_record.channels) != 0) {
        return WriteFailure(m_obj, path);
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

bool Image::ToGray() {
    if (m_record.channels != 3 || m_record.depth != ZAV_DEPTH_8U) {
        return m_record.channels == 1;
    }
    Image gray(m_obj);
    if (!gray.Create(m_record.width, m_record.height, 1)) {
        return false;
    }
    const std::size_t srcStride = (static_cast<std::size_t>(m_record.width) * 3 + 3) & ~3u;
    const std::size_t dstStride = (static_cast<std::size_t>(m_record.width) + 3) & ~3u;
    for (int32_t y = 0; y < m_record.height; ++y) {
        const uint8_t *src = m_record.data + srcStride * static_cast<std::size_t>(y);
        uint8_t *dst = gray.m_record.data + dstStride * static_cast<std::size_t>(y);
        for (int32_t x = 0; x < m_record.width; ++x, src += 3) {
            // blue, green, red weights summing to 256
            dst[x] =
                static_cast<uint8_t>((29u * src[0] + 150u * src[1] + 77u * src[2] + 128u) >> 8);
        }
        for (std::size_t pad = static_cast<std::size_t>(m_record.width); pad < dstStride; ++pad) {
            dst[pad] = 0;
        }
    }
    *this = std::move(gray);
    return true;
}

std::optional<std::string> PathProblem(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOTDIR) {
            return "folder not found";
        }
        if (errno != ENOENT) {
            return std::nullopt;
        }
        std::filesystem::path parent = std::filesystem::path(path).parent_path();
        if (!path.empty() && path.back() == '/') {
            return "folder not found";
        }
        std::error_code ec;
        if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
            return "folder not found";
        }
        // A name without a dot may have meant a folder.
        return std::filesystem::path(path).filename().string().find('.') == std::string::npos
                   ? "no such file or folder"
                   : "file not found";
    }
    if (S_ISDIR(st.st_mode)) {
        return "is a folder";
    }
    if (S_ISREG(st.st_mode) && st.st_size == 0) {
        return "empty file";
    }
    return std::nullopt;
}

std::string ReadFailure(ZAVImageObject *obj, const std::string &path) {
    const int32_t status = ZAVGetFileStatus(obj);
    if (status == ZAV_FILE_NOT_FOUND || status == ZAV_FILE_READ_FAILED ||
        status == ZAV_FILE_UNKNOWN_FORMAT || status == ZAV_FILE_TRUNCATED) {
        if (auto problem = PathProblem(path)) {
            return *problem;
        }
    }
    return ZAVFileStatusText(status);
}

std::string WriteFailure(ZAVImageObject *obj, const std::string &path) {
    const int32_t status = ZAVGetFileStatus(obj);
    std::error_code ec;
    if (status == ZAV_FILE_NOT_FOUND) {
        return "folder not found";
    }
    if (std::filesystem::is_directory(path, ec)) {
        return "is a folder";
    }
    return ZAVFileStatusText(status);
}

void PrintError(std::string_view message) {
    std::fprintf(stderr, "zavimage: %.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace zavtool
