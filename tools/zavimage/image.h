// Component objects and images owned by the tool, loaded and saved by native path through the C
// interface.
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
    // A new 8-bit image of the given size and channels; false when it could not be allocated.
    bool Create(int32_t width, int32_t height, int32_t channels);

    bool Empty() const { return m_record.data == nullptr; }
    ZAVImageStruct &Record() { return m_record; }
    const ZAVImageStruct &Record() const { return m_record; }
    void Reset();

  private:
    ZAVImageObject *m_obj;
    ZAVImageStruct m_record{};
};

// Why the object's last load or probe of `path` failed, as the library words it ("folder not
// found", "file not found", "is a folder", "empty file", ...).
std::string ReadFailure(ZAVImageObject *obj, const std::string &path);

// One line on standard error: "zavimage: <message>".
void PrintError(std::string_view message);

}  // namespace zavtool
