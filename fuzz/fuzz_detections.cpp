// Fuzzes the detections reader: the input is a detections file (CSV or JSON Lines) read from
// memory for a batch of three pictures, rows under a score of 0.5 left out. It either refuses the
// file (a UsageError) or gives boxes within the reader's bounds: each picture's boxes at most
// kMaxBoxes, each box at least 1 x 1, labels the tab's caption can draw, colours it knows, and no
// more unused rows than rows.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "job/detections.h"
#include "job/printable.h"
#include "job/usage_error.h"
#include "job/values.h"

namespace {

// What the tab's caption takes: UTF-8 without control characters, within the characters.
bool Drawable(const std::string &label) {
    if (!zav::job::IsUtf8(label)) {
        return false;
    }
    std::size_t characters = 0;
    for (std::size_t i = 0; i < label.size(); ++i) {
        const auto c = static_cast<unsigned char>(label[i]);
        if (c < 0x20 || c == 0x7F ||
            (c == 0xC2 && i + 1 < label.size() &&
             static_cast<unsigned char>(label[i + 1]) < 0xA0)) {
            return false;
        }
        characters += (c & 0xC0) != 0x80;
    }
    return characters <= zav::job::Detections::kMaxLabelCharacters;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const zav::job::Detections::Keys wanted = {"a.ppm", "sub/b.ppm", "./c.ppm"};
    try {
        zav::job::Detections d =
            zav::job::Detections::Parse("detections", "fuzz.csv", bytes, 0.5, wanted);
        const std::size_t rows = d.Rows();
        for (const std::string name : {"a.ppm", "b.ppm", "c.ppm", "other.ppm"}) {
            const std::string relative = name == "b.ppm" ? "sub/b.ppm" : name;
            const std::vector<zav::job::Detection> *boxes = d.Find(name, relative, name);
            if (boxes == nullptr) {
                continue;
            }
            if (name == "other.ppm" || boxes->size() > zav::job::Detections::kMaxBoxes ||
                boxes->size() > rows) {
                std::abort();
            }
            for (const zav::job::Detection &b : *boxes) {
                if (b.box.width < 1 || b.box.height < 1 || !Drawable(b.label) ||
                    (!b.color.empty() && !zav::job::IsColorName(b.color)) ||
                    (b.score && *b.score < 0.5)) {
                    std::abort();
                }
            }
        }
        if (d.UnusedRows() > rows) {
            std::abort();
        }
    } catch (const zav::job::UsageError &) {
        // refused: the message names the file and the line
    }
    return 0;
}
