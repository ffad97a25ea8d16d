#include "job/option_names.h"

#include <algorithm>
#include <cctype>

namespace zav::job {

namespace {

// The fields of a job and of its captions and copy step.
constexpr std::string_view kFields[] = {
    "inputs",         "recursive",    "folders",    "output",     "out_dir",    "format",
    "quality",        "jpeg_quality", "color",      "no_clobber", "in_place",   "flip",
    "resize",         "captions",     "boxes",      "box",        "box_color",  "copy",
    "text",           "at",           "size",       "space",      "text_color", "classic",
    "opacity",        "outline",      "background", "font",       "anchor",     "face_index",
    "letter_spacing", "line_spacing", "mono",       "from",       "to",         "name",
    "detections",     "min_score",    "box_style",  "box_width",  "label",      "resize_filter",
    "auto_orient"};

bool IsField(std::string_view word) {
    return std::find(std::begin(kFields), std::end(kFields), word) != std::end(kFields);
}

bool IsWordChar(char c) {
    return std::islower(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Whether a word at [begin, end) of the message stands alone: not part of a name or a path.
bool StandsAlone(const std::string &message, std::size_t begin, std::size_t end) {
    const auto separates = [](char c) { return c == ' ' || c == ',' || c == '(' || c == ')'; };
    return (begin == 0 || separates(message[begin - 1])) &&
           (end == message.size() || separates(message[end]) || message[end] == ':');
}

std::string Option(std::string field) {
    if (field == "detections") {
        return "--boxes";  // the option that names the detections file
    }
    std::replace(field.begin(), field.end(), '_', '-');
    return "--" + field;
}

}  // namespace

std::string AsOptions(const std::string &message) {
    std::string out;
    std::size_t i = 0;
    while (i < message.size()) {
        if (!IsWordChar(message[i]) ||
            (i > 0 && !std::isspace(static_cast<unsigned char>(message[i - 1])) &&
             message[i - 1] != '(' && message[i - 1] != ',')) {
            out += message[i++];
            continue;
        }
        std::size_t end = i;
        while (end < message.size() && IsWordChar(message[end])) {
            ++end;
        }
        const std::string word = message.substr(i, end - i);
        const bool leading = i == 0 && end < message.size() &&
                             (message[end] == ':' || message.compare(end, 8, " is for ") == 0);
        const bool named = word.find('_') != std::string::npos && StandsAlone(message, i, end);
        out += IsField(word) && (leading || named) ? Option(word) : word;
        i = end;
    }
    return out;
}

}  // namespace zav::job
