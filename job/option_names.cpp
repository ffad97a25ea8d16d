#include "job/option_names.h"

#include <algorithm>
#include <cctype>

namespace zav::job {

std::string AsOptions(const std::string &message) {
    const auto isWord = [](char c) {
        return std::islower(static_cast<unsigned char>(c)) != 0 || c == '_';
    };
    const auto option = [](std::string field) {
        std::replace(field.begin(), field.end(), '_', '-');
        return "--" + field;
    };
    std::string out;
    std::size_t i = 0;
    while (i < message.size()) {
        if (!isWord(message[i]) || (i > 0 && (isWord(message[i - 1]) || message[i - 1] == '-'))) {
            out += message[i++];
            continue;
        }
        std::size_t end = i;
        while (end < message.size() && isWord(message[end])) {
            ++end;
        }
        const std::string word = message.substr(i, end - i);
        const bool leading = i == 0 && end < message.size() &&
                             (message[end] == ':' || message.compare(end, 8, " is for ") == 0);
        const bool field = word.find('_') != std::string::npos && word.front() != '_' &&
                           word.back() != '_' && (end == message.size() || message[end] != '(');
        out += leading || field ? option(word) : word;
        i = end;
    }
    return out;
}

}  // namespace zav::job
