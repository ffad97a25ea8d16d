// Component objects and images owned by the tool, loaded and saved by native path through the C
// interface, and the reasons a file could not be read or written.
#pragma once

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zavimage/zavimage.h"

namespace zavtool {

// A component object owned by a scope.
class Object {
  public:
    Object() : m_obj(ZAVCreateObject()) {
        if (m_obj == nullptr) {
            throw std::bad_alloc();
        }
    }
    ~Object() { ZAVDestroyObject(m_obj); }
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;
    ZAVImageObject *get() const { return m_obj; }

  private:
    ZAVImageObject *m_obj;
};

// An image loaded or created by the library, released when it goes out of scope.
class Image {
  public:
    explicit Image(ZAVImageObject *obj) : m_obj(obj) {}
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    Image(Image &&other) noexcept;
    Image &operator=(Image &&other) noexcept;
    ~Image() { Reset(); }

    // Loads a file by its path as given; on failure returns the reason and keeps the image empty.
    std::optional<std::string> Load(const std::string &path);
    // Loads a picture held in memory (read from standard input); on failure returns the reason.
    std::optional<std::string> LoadMemory(const std::vector<uint8_t> &bytes);
    // Saves to a path as given; on failure returns the reason (no file is left behind).
    std::optional<std::string> Save(const std::string &path) const;
    // Encodes in the format an extension names ("png", "jpg", ...) and writes the bytes to
    // standard output; on failure returns the reason.
    std::optional<std::string> WriteToStandardOutput(const std::string &format) const;
    // A new 8-bit image of the given size and channels; false when it could not be allocated.
    bool Create(int32_t width, int32_t height, int32_t channels);
    // Replaces a 3-channel picture by its gray levels (ITU-R BT.601 weights; a pixel whose three
    // samples are equal keeps its value). False when the new buffer could not be allocated.
    bool ToGray();

    bool Empty() const { return m_record.data == nullptr; }
    ZAVImageStruct &Record() { return m_record; }
    const ZAVImageStruct &Record() const { return m_record; }
    void Reset();

  private:
    ZAVImageObject *m_obj;
    ZAVImageStruct m_record{};
};

// Why the object's last load or probe of `path` failed, made precise where the file system tells
// more: "folder not found", "file not found", "is a folder", "empty file".
std::string ReadFailure(ZAVImageObject *obj, const std::string &path);
// Why the object's last save to `path` failed ("folder not found", "is a folder", ...).
std::string WriteFailure(ZAVImageObject *obj, const std::string &path);

// What the file system says about a path that cannot be read: "folder not found", "file not
// found", "is a folder", "empty file"; none when it is a non-empty file.
std::optional<std::string> PathProblem(const std::string &path);

// One line on standard error: "zavimage: <message>".
void PrintError(std::string_view message);

}  // namespace zavtool
