// Fuzzes templates: an 8-byte head gives the facts' numbers (the modification time, index,
// count, size); the rest, split at NUL bytes, is the template's text, the picture's path, then
// the values of the EXIF tags in the order of ExifTagNames. The text is read as a caption's and
// as an output name's template; each that reads is expanded (Expand, and ExpandName for names).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "job/template.h"
#include "job/usage_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 8) {
        return 0;
    }
    zav::job::FrameFacts facts;
    if ((data[0] & 1) != 0) {
        // Times from far before 1970 to far past 9999, some that localtime cannot take.
        int64_t t = 0;
        std::memcpy(&t, data, 8);
        facts.mtime = static_cast<std::time_t>(t >> ((data[1] & 7) * 8));
    }
    facts.index = data[2];
    facts.count = data[3] * 1000u;
    facts.width = static_cast<int8_t>(data[4]) * 1000;
    facts.height = data[5];

    std::vector<std::string_view> pieces;
    std::string_view rest(reinterpret_cast<const char *>(data) + 8, size - 8);
    while (true) {
        const std::size_t nul = rest.find('\0');
        pieces.push_back(rest.substr(0, nul));
        if (nul == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(nul + 1);
    }
    if (pieces.size() > 1) {
        facts.path = std::string(pieces[1]);
    }
    const auto &tags = zav::job::ExifTagNames();
    for (std::size_t i = 2; i < pieces.size() && i - 2 < tags.size(); ++i) {
        facts.exif[std::string(tags[i - 2].name)] = std::string(pieces[i]);
    }

    // A text that reads is expanded within the bound; a name is a file name within its limit
    // or a UsageError.
    for (const bool forNames : {false, true}) {
        try {
            const zav::job::Template t =
                zav::job::Template::Read(forNames ? "name" : "text", pieces[0], forNames);
            if (t.Text() != pieces[0]) {
                std::abort();
            }
            if (zav::job::Expand(t, facts).size() > zav::job::kMaxExpandedBytes) {
                std::abort();
            }
            if (forNames) {
                const std::string name = zav::job::ExpandName(t, facts, "name");
                if (name.empty() || name.size() > zav::kMaxFileNameBytes ||
                    name.find('/') != std::string::npos) {
                    std::abort();
                }
            }
        } catch (const zav::job::UsageError &) {
        }
    }
    return 0;
}
