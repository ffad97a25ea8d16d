#include "job/template.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "job/printable.h"
#include "job/usage_error.h"
#include "job/values.h"

namespace zav::job {
namespace {

using Kind = TemplatePart::Kind;

struct FieldName {
    std::string_view name;
    Kind kind;
};
constexpr FieldName kFields[] = {
    {"name", Kind::kName},     {"stem", Kind::kStem},     {"ext", Kind::kExt},
    {"folder", Kind::kFolder}, {"index", Kind::kIndex},   {"count", Kind::kCount},
    {"width", Kind::kWidth},   {"height", Kind::kHeight}, {"mtime", Kind::kMtime},
    {"exif", Kind::kExif},
};
constexpr const char *kFieldList =
    "name, stem, ext, folder, index, count, width, height, mtime, mtime:FORMAT, exif:TAG";
constexpr const char *kDefaultTimeFormat = "%Y-%m-%d %H:%M:%S";

// Whether a strftime format holds only conversions that strftime defines (% then flags, a width,
// an E or O modifier, then one of the conversion letters) and no NUL byte.
bool IsTimeFormat(std::string_view format) {
    if (format.find('\0') != std::string_view::npos) {
        return false;
    }
    static constexpr std::string_view kConversions = "aAbBcCdDeFgGhHIjklmMnpPrRsStTuUVwWxXyYzZ+%";
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            continue;
        }
        ++i;
        while (i < format.size() && std::strchr("_-0^#", format[i]) != nullptr) {
            ++i;
        }
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
            ++i;
        }
        if (i < format.size() && (format[i] == 'E' || format[i] == 'O')) {
            ++i;
        }
        if (i >= format.size() || kConversions.find(format[i]) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

[[noreturn]] void Bad(std::string_view field, std::string_view text, const std::string &why) {
    throw UsageError(std::string(field) + ": '" + Printable(text) + "': " + why);
}

// The time in local time by a strftime format; "" for a time outside the calendar, nullopt for a
// text longer than kMaxExpandedBytes. strftime's 0 means both "nothing to write" and "no room":
// with a mark after the format the text is never empty, so 0 means no room, and the room grows
// until the bound.
std::optional<std::string> TimeText(std::time_t t, const std::string &format) {
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return std::string();
    }
    const std::string marked = format + '|';
    constexpr std::size_t kMostRoom = kMaxExpandedBytes + 2;  // the text, the mark, the NUL
    std::string out;
    for (std::size_t room = std::min<std::size_t>(64 + marked.size() * 4, kMostRoom);;
         room = std::min(room * 2, kMostRoom)) {
        out.resize(room);
        const std::size_t n = std::strftime(out.data(), out.size(), marked.c_str(), &local);
        if (n > 0) {
            out.resize(n - 1);
            return out;
        }
        if (room == kMostRoom) {
            return std::nullopt;
        }
    }
}

// A field as a template writes it: {stem}, {mtime:%F}, {exif:Make}. Not for text.
std::string Spelling(const TemplatePart &p) {
    const auto found = std::find_if(std::begin(kFields), std::end(kFields),
                                    [&](const FieldName &f) { return f.kind == p.kind; });
    std::string name(found == std::end(kFields) ? "?" : found->name);
    if (p.kind == Kind::kMtime || p.kind == Kind::kExif) {
        name += ":" + p.text;
    }
    return "{" + name + "}";
}

// The text of one part; nullopt when it would pass kMaxExpandedBytes.
std::optional<std::string> PartText(const TemplatePart &p, const FrameFacts &facts,
                                    const std::filesystem::path &path) {
    switch (p.kind) {
        case Kind::kText:
            return p.text;
        case Kind::kName:
            return path.filename().string();
        case Kind::kStem:
            return path.stem().string();
        case Kind::kExt: {
            const std::string ext = path.extension().string();
            return ext.empty() ? ext : ext.substr(1);
        }
        case Kind::kFolder:
            return path.has_parent_path() ? path.parent_path().filename().string() : "";
        case Kind::kIndex:
            return std::to_string(facts.index);
        case Kind::kCount:
            return std::to_string(facts.count);
        case Kind::kWidth:
            return std::to_string(facts.width);
        case Kind::kHeight:
            return std::to_string(facts.height);
        case Kind::kMtime:
            return facts.mtime ? TimeText(*facts.mtime, p.text) : std::string();
        case Kind::kExif:
            if (const auto it = facts.exif.find(p.text); it != facts.exif.end()) {
                return it->second;
            }
            return std::string();
    }
    return std::string();
}

// Fills in every part, `check(part, text)` called for each; throws `tooLong(part)` when a part or
// the whole would pass kMaxExpandedBytes.
template <typename Check, typename TooLong>
std::string Fill(const Template &t, const FrameFacts &facts, Check &&check, TooLong &&tooLong) {
    const std::filesystem::path path(facts.path);
    std::string out;
    for (const TemplatePart &p : t.Parts()) {
        const std::optional<std::string> text = PartText(p, facts, path);
        if (!text || text->size() > kMaxExpandedBytes - out.size()) {
            throw tooLong(p);
        }
        check(p, *text);
        out += *text;
    }
    return out;
}

}  // namespace

const std::vector<ExifTagName> &ExifTagNames() {
    static const std::vector<ExifTagName> names = {
        {"ImageDescription", 0x010E, false},
        {"Make", 0x010F, false},
        {"Model", 0x0110, false},
        {"Orientation", 0x0112, false},
        {"Software", 0x0131, false},
        {"DateTime", 0x0132, false},
        {"Artist", 0x013B, false},
        {"Copyright", 0x8298, false},
        {"DateTimeOriginal", 0x9003, true},
        {"DateTimeDigitized", 0x9004, true},
        {"OffsetTimeOriginal", 0x9011, true},
        {"SubSecTimeOriginal", 0x9291, true},
        {"BodySerialNumber", 0xA431, true},
        {"LensModel", 0xA434, true},
    };
    return names;
}

Template Template::Read(std::string_view field, std::string_view text, bool forNames) {
    Template t;
    t.m_text = std::string(text);
    std::string literal;
    const auto flush = [&] {
        if (!literal.empty()) {
            t.m_parts.push_back({Kind::kText, std::move(literal)});
            literal.clear();
        }
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '}') {
            if (i + 1 < text.size() && text[i + 1] == '}') {
                literal += '}';
                ++i;
                continue;
            }
            Bad(field, text, "a lone } (write }} for a brace)");
        }
        if (c != '{') {
            literal += c;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '{') {
            literal += '{';
            ++i;
            continue;
        }
        const std::size_t close = text.find('}', i + 1);
        if (close == std::string_view::npos) {
            Bad(field, text, "a { without its } (write {{ for a brace)");
        }
        const std::string_view inside = text.substr(i + 1, close - i - 1);
        const std::size_t colon = inside.find(':');
        const std::string_view name = inside.substr(0, colon);
        const auto found = std::find_if(std::begin(kFields), std::end(kFields),
                                        [&](const FieldName &f) { return f.name == name; });
        if (found == std::end(kFields)) {
            Bad(field, text, "{" + std::string(inside) + "} is not a field (" + kFieldList + ")");
        }
        TemplatePart part{found->kind, {}};
        if (colon != std::string_view::npos && found->kind != Kind::kMtime &&
            found->kind != Kind::kExif) {
            Bad(field, text, "{" + std::string(name) + "} takes no format");
        }
        if (found->kind == Kind::kMtime) {
            part.text = colon == std::string_view::npos ? std::string(kDefaultTimeFormat)
                                                        : std::string(inside.substr(colon + 1));
            if (part.text.empty() || !IsTimeFormat(part.text)) {
                Bad(field, text,
                    "'" + part.text + "' is not a time format (strftime's, e.g. %F %T)");
            }
        } else if (found->kind == Kind::kExif) {
            const std::string_view tag =
                colon == std::string_view::npos ? std::string_view() : inside.substr(colon + 1);
            const auto &tags = ExifTagNames();
            if (std::none_of(tags.begin(), tags.end(),
                             [&](const ExifTagName &n) { return n.name == tag; })) {
                std::string known;
                for (const ExifTagName &n : tags) {
                    known += (known.empty() ? "" : ", ") + std::string(n.name);
                }
                Bad(field, text, "{exif:TAG} names one of " + known);
            }
            part.text = std::string(tag);
        }
        if (forNames &&
            (part.kind == Kind::kWidth || part.kind == Kind::kHeight || part.kind == Kind::kExif)) {
            Bad(field, text,
                "{" + std::string(name) + "} is not known when outputs are named (before loading)");
        }
        flush();
        t.m_parts.push_back(std::move(part));
        i = close;
    }
    flush();
    return t;
}

bool Template::HasFields() const {
    return std::any_of(m_parts.begin(), m_parts.end(),
                       [](const TemplatePart &p) { return p.kind != Kind::kText; });
}

bool Template::Uses(Kind kind) const {
    return std::any_of(m_parts.begin(), m_parts.end(),
                       [&](const TemplatePart &p) { return p.kind == kind; });
}

std::string Expand(const Template &t, const FrameFacts &facts) {
    return Fill(
        t, facts, [](const TemplatePart &, const std::string &) {},
        [&](const TemplatePart &p) {
            return UsageError(
                "'" + ShownText(t.Text()) + "': longer than " + std::to_string(kMaxExpandedBytes) +
                " bytes once filled in" +
                (p.kind == Kind::kText ? "" : " (at " + Printable(Spelling(p)) + ")"));
        });
}

std::string ExpandName(const Template &t, const FrameFacts &facts, std::string_view field) {
    const std::string head = std::string(field) + ": '" + ShownText(t.Text()) + "': ";
    const std::string input = "'" + Printable(facts.path) + "'";
    const auto tooLong = [&](const TemplatePart &) {
        return UsageError(head + "the name for " + input + " is longer than " +
                          std::to_string(kMaxFileNameBytes) + " bytes");
    };
    const std::string name = Fill(
        t, facts,
        [&](const TemplatePart &p, const std::string &text) {
            if (p.kind != Kind::kText && text.empty()) {
                throw UsageError(head + Printable(Spelling(p)) + " gives nothing for " + input);
            }
        },
        tooLong);
    if (name.size() > kMaxFileNameBytes) {
        throw tooLong(TemplatePart{});
    }
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        throw UsageError(head + "'" + Printable(name) + "' (for " + input + ") is not a file name");
    }
    return name;
}

}  // namespace zav::job
