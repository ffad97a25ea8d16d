#include "job/detections.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "job/json_text.h"
#include "job/printable.h"
#include "job/usage_error.h"
#include "job/values.h"

namespace zav::job {
namespace {

// A detections file is never larger than this (a frame's rows are a few hundred bytes).
constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{1} << 30;
// The file is read in pieces of this size.
constexpr std::size_t kChunkBytes = std::size_t{64} << 10;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Refuses a row: "FIELD: FILE line N: WHY" (or another unit than "line").
class RowError {
  public:
    RowError(const std::string &shown, std::size_t line, const char *unit = "line")
        : m_shown(shown), m_line(line), m_unit(unit) {}
    [[noreturn]] void operator()(const std::string &why) const {
        throw UsageError(m_shown + " " + m_unit + " " + std::to_string(m_line) + ": " + why);
    }

  private:
    const std::string &m_shown;
    std::size_t m_line;
    const char *m_unit;
};

// The fields of a CSV line: commas separate, double quotes enclose fields that hold commas or
// quotes ("" is a quote).
std::optional<std::vector<std::string>> CsvFields(std::string_view line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"' && fields.back().empty()) {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    for (std::string &f : fields) {  // spaces around a field are not part of it
        const std::size_t first = f.find_first_not_of(" \t");
        const std::size_t last = f.find_last_not_of(" \t");
        f = first == std::string::npos ? std::string() : f.substr(first, last - first + 1);
    }
    return fields;
}

std::optional<double> Number(const Json &value) {
    if (value.is_number()) {
        const double v = value.get<double>();
        return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
    }
    return value.is_string() ? DecimalNumber(value.get_ref<const std::string &>()) : std::nullopt;
}

// A box from its four numbers (rounded to whole pixels); width and height above 0. `shown`:
// the values as messages show them.
ZAVImageRect Box(const RowError &bad, const std::optional<double> (&v)[4],
                 const std::string (&shown)[4]) {
    static constexpr const char *kNames[] = {"x", "y", "w", "h"};
    int32_t out[4] = {};
    for (int k = 0; k < 4; ++k) {
        if (!v[k] || std::fabs(*v[k]) > 1e9) {
            bad("'" + shown[k] + "' is not a number (" + kNames[k] + ")");
        }
        out[k] = static_cast<int32_t>(std::lround(*v[k]));
    }
    if (out[2] < 1 || out[3] < 1) {
        bad("the box " + shown[0] + "," + shown[1] + "," + shown[2] + "," + shown[3] +
            " has no width or height");
    }
    return ZAVImageRect{out[0], out[1], out[2], out[3]};
}

void CheckColor(const RowError &bad, const std::string &color) {
    if (!color.empty() && !IsColorName(color)) {
        bad("'" + ShownText(color) +
            "' is not a colour: black, white, red, green, blue, yellow, cyan, magenta, gray, "
            "orange or #RRGGBB");
    }
}

// A label the caption draws on one line of the tab: UTF-8, no control character (C0, DEL, C1),
// within the caption's characters with room for the score.
void CheckLabel(const RowError &bad, const std::string &label) {
    if (!IsUtf8(label)) {
        bad("the label '" + ShownText(label) + "' is not UTF-8");
    }
    std::size_t characters = 0;
    for (std::size_t i = 0; i < label.size(); ++i) {
        const auto c = static_cast<unsigned char>(label[i]);
        const bool c1 = c == 0xC2 && i + 1 < label.size() &&
                        static_cast<unsigned char>(label[i + 1]) < 0xA0;  // U+0080 to U+009F
        if (c < 0x20 || c == 0x7F || c1) {
            bad("the label '" + ShownText(label) + "' holds a control character");
        }
        characters += (c & 0xC0) != 0x80;
    }
    if (characters > Detections::kMaxLabelCharacters) {
        bad("the label '" + ShownText(label) + "' is longer than " +
            std::to_string(Detections::kMaxLabelCharacters) + " characters (a caption's " +
            std::to_string(ZAV_TEXT_MAX_CHARACTERS) + " with the score)");
    }
}

// A JSON value as text: a string as it is, anything else as JSON.
std::string Text(const Json &value) {
    return value.is_string() ? value.get<std::string>()
                             : value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The file as the lookup keys have it: without leading "./".
std::string_view Key(std::string_view file) {
    while (file.size() > 2 && file.substr(0, 2) == "./") {
        file.remove_prefix(2);
    }
    return file;
}

}  // namespace

// The rows of one file, a line at a time.
class Detections::Reader {
  public:
    Reader(const std::string &field, std::string_view name, std::optional<double> minScore,
           const Keys &wanted)
        : m_shown(field + ": " + Printable(name)), m_minScore(minScore) {
        for (const std::string &key : wanted) {
            m_wanted.emplace(Key(key));
        }
    }

    // Bytes of the file, in order: whole lines go to Line, the start of the last one waits in
    // `m_pending` for the rest.
    void Feed(std::string_view bytes) {
        while (!bytes.empty()) {
            const std::size_t end = bytes.find('\n');
            const std::string_view piece = bytes.substr(0, end);
            // a line's carriage return is not counted
            if (m_pending.size() + piece.size() > kMaxLineBytes + 1) {
                TooLong(m_number + 1);
            }
            if (end == std::string_view::npos) {
                m_pending.append(piece);
                return;
            }
            if (m_pending.empty()) {
                Line(piece);
            } else {
                m_pending.append(piece);
                Line(m_pending);
                m_pending.clear();
            }
            bytes.remove_prefix(end + 1);
        }
    }

    Detections Finish() {
        if (!m_pending.empty()) {
            Line(m_pending);
            m_pending.clear();
        }
        return std::move(m_d);
    }

  private:
    [[noreturn]] void TooLong(std::size_t line) const {
        RowError(m_shown, line)("longer than " + std::to_string(kMaxLineBytes >> 20) + " MiB");
    }

    void Line(std::string_view line) {
        ++m_number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > kMaxLineBytes) {
            TooLong(m_number);
        }
        if (m_number == 1 && line.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
            line.remove_prefix(kByteOrderMark.size());
        }
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos) {
            return;
        }
        const RowError bad(m_shown, m_number);
        if (m_first) {
            m_jsonLines = line[start] == '{';
        }
        if (m_jsonLines) {
            JsonRow(bad, line);
        } else {
            CsvRow(bad, line);
        }
        m_first = false;
    }

    void JsonRow(const RowError &bad, std::string_view line) {
        const Json row = ParseJsonText(line, m_shown, m_number);
        if (!row.is_object()) {
            bad("not a JSON object");
        }
        const auto file = row.find("file");
        if (file == row.end() || !file->is_string() ||
            file->get_ref<const std::string &>().empty()) {
            bad("no \"file\"");
        }
        const std::string &name = file->get_ref<const std::string &>();
        const auto boxes = row.find("boxes");
        if (boxes != row.end() && !boxes->is_array()) {
            bad("\"boxes\" is not a list");
        }
        if (boxes == row.end() || boxes->empty()) {
            Want(name);  // a file with no detection is still the detector's
            return;
        }
        for (const Json &b : *boxes) {
            if (!b.is_object()) {
                bad("a box is not an object");
            }
            static const Json kNull;
            const auto member = [&](const char *key) -> const Json & {
                const auto it = b.find(key);
                return it == b.end() ? kNull : *it;
            };
            std::optional<double> v[4];
            std::string shown[4];
            static constexpr const char *kKeys[] = {"x", "y", "w", "h"};
            for (int k = 0; k < 4; ++k) {
                v[k] = Number(member(kKeys[k]));
                shown[k] = ValueText(member(kKeys[k]));
            }
            Detection det;
            det.box = Box(bad, v, shown);
            if (const Json &label = member("label"); !label.is_null()) {
                det.label = Text(label);
                CheckLabel(bad, det.label);
            }
            if (const Json &color = member("color"); !color.is_null()) {
                det.color = Text(color);
                CheckColor(bad, det.color);
            }
            if (const Json &score = member("score"); !score.is_null()) {
                det.score = Number(score);
                if (!det.score) {
                    bad("'" + ValueText(score) + "' is not a number (score)");
                }
            }
            Add(bad, name, std::move(det));
        }
    }

    void CsvRow(const RowError &bad, std::string_view line) {
        const std::optional<std::vector<std::string>> f = CsvFields(line);
        if (!f) {
            bad("a quote is not closed");
        }
        if (m_first && f->size() >= 2 && !DecimalNumber((*f)[1]) && (*f)[0] == "file") {
            return;  // the header line
        }
        if (f->size() < 5 || f->size() > 8) {
            bad("not file,x,y,w,h[,label[,color[,score]]] (" + std::to_string(f->size()) +
                " fields)");
        }
        if ((*f)[0].empty()) {
            bad("no file name");
        }
        std::optional<double> v[4];
        std::string shown[4];
        for (int k = 0; k < 4; ++k) {
            const std::string &text = (*f)[static_cast<std::size_t>(k) + 1];
            v[k] = DecimalNumber(text);
            shown[k] = ShownText(text);
        }
        Detection det;
        det.box = Box(bad, v, shown);
        if (f->size() > 5) {
            det.label = (*f)[5];
            CheckLabel(bad, det.label);
        }
        if (f->size() > 6) {
            det.color = (*f)[6];
            CheckColor(bad, det.color);
        }
        if (f->size() > 7 && !(*f)[7].empty()) {
            det.score = DecimalNumber((*f)[7]);
            if (!det.score) {
                bad("'" + ShownText((*f)[7]) + "' is not a number (score)");
            }
        }
        Add(bad, (*f)[0], std::move(det));
    }

    // The file's entry when the batch wants it, else null.
    Entry *Want(std::string_view file) {
        const std::string_view key = Key(file);
        if (const auto it = m_d.m_byFile.find(key); it != m_d.m_byFile.end()) {
            return &it->second;
        }
        if (!m_wanted.contains(key)) {
            return nullptr;
        }
        return &m_d.m_byFile.emplace(std::string(key), Entry()).first->second;
    }

    void Add(const RowError &bad, std::string_view file, Detection det) {
        ++m_d.m_rows;
        Entry *entry = Want(file);
        if (entry == nullptr) {
            ++m_d.m_otherRows;
            return;
        }
        ++entry->rows;
        if (m_minScore && det.score && *det.score < *m_minScore) {
            return;
        }
        if (entry->boxes.size() >= kMaxBoxes) {
            bad("more than " + std::to_string(kMaxBoxes) + " boxes for '" + ShownText(file) + "'");
        }
        entry->boxes.push_back(std::move(det));
    }

    const std::string m_shown;  // "FIELD: FILE"
    const std::optional<double> m_minScore;
    Keys m_wanted;
    Detections m_d;
    std::string m_pending;
    std::size_t m_number = 0;  // lines read
    bool m_first = true;       // before the first line that is not blank
    bool m_jsonLines = false;
};

Detections Detections::Read(const std::string &field, const std::string &path,
                            std::optional<double> minScore, const Keys &wanted) {
    const auto unreadable = [&] {
        return UsageError(field + ": '" + ShownText(path) + "' cannot be read");
    };
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || !std::filesystem::is_regular_file(path, ec)) {
        throw unreadable();
    }
    if (size > kMaxFileBytes) {
        throw UsageError(field + ": '" + Printable(path) + "' is larger than 1 GiB");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw unreadable();
    }
    Reader reader(field, path, minScore, wanted);
    std::vector<char> chunk(kChunkBytes);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) {
            break;
        }
        reader.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
    }
    if (in.bad()) {
        throw unreadable();
    }
    return reader.Finish();
}

Detections Detections::Parse(const std::string &field, std::string_view name,
                             std::string_view bytes, std::optional<double> minScore,
                             const Keys &wanted) {
    Reader reader(field, name, minScore, wanted);
    reader.Feed(bytes);
    return reader.Finish();
}

const std::vector<Detection> *Detections::Find(const std::string &path, const std::string &relative,
                                               const std::string &name) {
    for (const std::string_view key : {Key(path), Key(relative), std::string_view(name)}) {
        if (auto it = m_byFile.find(key); it != m_byFile.end()) {
            it->second.used = true;
            return &it->second.boxes;
        }
    }
    return nullptr;
}

std::size_t Detections::UnusedRows() const {
    std::size_t unused = m_otherRows;
    for (const auto &[file, entry] : m_byFile) {
        if (!entry.used) {
            unused += entry.rows;
        }
    }
    return unused;
}

void Detections::CheckBoxes(const std::string &shown, const std::vector<Detection> &boxes) {
    if (boxes.size() > kMaxBoxes) {
        throw UsageError(shown + ": more than " + std::to_string(kMaxBoxes) + " boxes");
    }
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const Detection &d = boxes[k];
        const RowError bad(shown, k + 1, "box");
        const std::optional<double> v[4] = {d.box.x, d.box.y, d.box.width, d.box.height};
        const std::string text[4] = {std::to_string(d.box.x), std::to_string(d.box.y),
                                     std::to_string(d.box.width), std::to_string(d.box.height)};
        Box(bad, v, text);
        CheckColor(bad, d.color);
        CheckLabel(bad, d.label);
        if (d.score && !std::isfinite(*d.score)) {
            bad("the score is not a number");
        }
    }
}

}  // namespace zav::job
