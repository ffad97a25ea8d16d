// Templates of per-frame data: a caption's text or an output's name holding fields that each
// picture fills in: {name}, {stem}, {ext}, {folder}, {index}, {count}, {width}, {height},
// {mtime} or {mtime:FORMAT}, {exif:TAG}; {{ and }} are braces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/files/name_rules.h"
#include "zavimage/zavimage.h"

namespace zav::job {

// The most bytes a template expands to: a caption's most characters at four bytes each (UTF-8),
// which is more than the longest file name. A template that would expand to more is refused.
inline constexpr std::size_t kMaxExpandedBytes = std::size_t{4} * ZAV_TEXT_MAX_CHARACTERS;
static_assert(kMaxExpandedBytes >= kMaxFileNameBytes);

struct TemplatePart {
    enum class Kind {
        kText,
        kName,
        kStem,
        kExt,
        kFolder,
        kIndex,
        kCount,
        kWidth,
        kHeight,
        kMtime,
        kExif
    };
    Kind kind = Kind::kText;
    std::string text;  // kText: the text; kMtime: the strftime format; kExif: the tag's name
};

class Template {
  public:
    Template() = default;
    // Reads a template; an unknown field, a bad format, an unknown EXIF tag or a lone brace is
    // a UsageError naming `field` and the value. `forNames`: the fields an output name can take
    // (the picture's size and EXIF are not known when outputs are named).
    static Template Read(std::string_view field, std::string_view text, bool forNames = false);

    bool HasFields() const;
    bool Uses(TemplatePart::Kind kind) const;
    const std::vector<TemplatePart> &Parts() const { return m_parts; }
    // The template as it was written.
    const std::string &Text() const { return m_text; }

  private:
    std::vector<TemplatePart> m_parts;
    std::string m_text;
};

// What a picture fills a template with.
struct FrameFacts {
    std::string path;       // as the job names it
    std::size_t index = 0;  // 1 for the first picture of the batch
    std::size_t count = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::optional<std::time_t> mtime;
    std::map<std::string, std::string, std::less<>> exif;  // by tag name; absent tags empty
};

// The text with every field filled in (times in local time); a field the facts do not give
// (no time, an absent tag, a time outside the calendar) is left empty. A UsageError when the text
// would pass kMaxExpandedBytes.
std::string Expand(const Template &t, const FrameFacts &facts);

// An output's file name from its template: Expand's, and a UsageError naming `field`, the
// template and the input when a field gives nothing (no extension for {ext}, no time for
// {mtime}, a time format with nothing to say in the locale), or when the name is empty, ".",
// "..", holds a slash or a NUL byte, or passes kMaxFileNameBytes.
std::string ExpandName(const Template &t, const FrameFacts &facts, std::string_view field);

// The EXIF tags a template may name ({exif:Make}), with their numbers and the IFD they live in.
struct ExifTagName {
    std::string_view name;
    uint16_t tag;
    bool inExifIfd;  // in the Exif IFD; else in the first IFD
};
const std::vector<ExifTagName> &ExifTagNames();

}  // namespace zav::job
