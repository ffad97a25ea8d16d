#include "imaging/format_registry.h"

#include <algorithm>

namespace zav {

namespace {

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The run of letters and digits that starts at `from`.
std::string_view AlnumRun(std::string_view text, std::size_t from) {
    std::size_t end = from;
    while (end < text.size() && IsAsciiAlnum(text[end])) {
        ++end;
    }
    return text.substr(from, end - from);
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

}  // namespace

std::string_view FileNameExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    return AlnumRun(name, dot + 1);
}

std::vector<std::string_view> DescriptionExtensions(std::string_view description) {
    std::vector<std::string_view> extensions;
    const std::size_t open = description.find('(');
    if (open == std::string_view::npos) {
        return extensions;
    }
    for (std::size_t i = open + 1; i < description.size(); ++i) {
        if (description[i] == '.') {
            const std::string_view extension = AlnumRun(description, i + 1);
            if (!extension.empty()) {
                extensions.push_back(extension);
            }
        }
    }
    return extensions;
}

ImageFormatRegistry::ImageFormatRegistry(std::initializer_list<const ImageFormatFilter *> filters)
    : filters_(filters) {}

const ImageFormatFilter *ImageFormatRegistry::FindReaderFilter(
    std::span<const uint8_t> head) const {
    if (head.size() > kSignatureBytes) {
        head = head.first(kSignatureBytes);
    }
    for (const ImageFormatFilter *filter : filters_) {
        if (filter->SignatureLength() <= head.size() &&
            filter->CheckSignature(head.data(), head.size())) {
            return filter;
        }
    }
    return nullptr;
}

std::unique_ptr<ImageReader> ImageFormatRegistry::FindReader(std::span<const uint8_t> file) const {
    const ImageFormatFilter *filter = FindReaderFilter(file);
    return filter != nullptr ? filter->NewReader(file) : nullptr;
}

const ImageFormatFilter *ImageFormatRegistry::FindWriterFilter(std::string_view name) const {
    const std::string_view extension = FileNameExtension(name);
    if (extension.empty()) {
        return nullptr;
    }
    for (const ImageFormatFilter *filter : filters_) {
        for (std::string_view listed : DescriptionExtensions(filter->Description())) {
            if (EqualsIgnoringAsciiCase(listed, extension)) {
                return filter;
            }
        }
    }
    return nullptr;
}

std::unique_ptr<ImageWriter> ImageFormatRegistry::FindWriter(std::string_view name) const {
    const ImageFormatFilter *filter = FindWriterFilter(name);
    return filter != nullptr ? filter->NewWriter() : nullptr;
}

}  // namespace zav
