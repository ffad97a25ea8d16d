// The format table: which filter reads a file (by its first bytes) and which writes a name (by its
// extension).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "imaging/codecs/codec.h"

namespace zav {

// The longest signature of any filter: the bytes read from a file to choose its reader.
inline constexpr std::size_t kSignatureBytes = 4;

// The extension of a name: the run of ASCII letters and digits right after the name's last dot,
// folder parts included ("a.jpg~" gives "jpg", "a.jpg.tmp" "tmp", "dir.old/picture" "old"). Empty
// when the name has no dot or no letter or digit follows it.
std::string_view FileNameExtension(std::string_view name);

// The extensions a filter's description lists: after the first "(", each "." is followed by one
// extension, the run of letters and digits after it.
std::vector<std::string_view> DescriptionExtensions(std::string_view description);

class ImageFormatRegistry {
  public:
    // The filters in the order in which they are asked. They must outlive the registry.
    ImageFormatRegistry(std::initializer_list<const ImageFormatFilter *> filters);

    // The table of the five formats, built on first use and never changed.
    static const ImageFormatRegistry &Default();

    std::span<const ImageFormatFilter *const> Filters() const { return filters_; }

    // The first filter whose signature length does not exceed head.size() (up to kSignatureBytes
    // bytes from the start of the file) and whose signature test passes; null when none does.
    const ImageFormatFilter *FindReaderFilter(std::span<const uint8_t> head) const;
    // A reader over the whole file, chosen by its first bytes; null when no filter answers.
    std::unique_ptr<ImageReader> FindReader(std::span<const uint8_t> file) const;

    // The first filter that lists the name's extension (ASCII letters compared without regard to
    // case); null when the name has no extension or none lists it.
    const ImageFormatFilter *FindWriterFilter(std::string_view name) const;
    std::unique_ptr<ImageWriter> FindWriter(std::string_view name) const;

  private:
    std::vector<const ImageFormatFilter *> filters_;
};

}  // namespace zav
