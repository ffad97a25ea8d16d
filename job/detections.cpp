#include "job/detections.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "job/printable.h"
#include "job/usage_error.h"
#include "job/values.h"

namespace zav::job {
namespace {

// A detections file is never larger than this (a frame's rows are a few hundred bytes).
constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{1} << 30;

class RowError {
  public:
    RowError(std::string where) : m_where(std::move(where)) {}
    [[noreturn]] void operator()(const std::string &why) const {
        throw UsageError(m_where + ": " + why);
    }

  private:
    std::string m_where;
};

// The fields of a CSV line: commas separate, double quotes enclose fields that hold commas or
// quotes ("" is a quote).
std::optional<std::vector<std::string>> CsvFields(const std::string &line) {
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

std::optional<double> Number(const std::string &text) {
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> Number(const nlohmann::json &value) {
    if (value.is_number()) {
        const double v = value.get<double>();
        return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
    }
    return value.is_string() ? Number(value.get<std::string>()) : std::nullopt;
}

// A box from its four numbers (rounded to whole pixels); width and height above 0.
ZAVImageRect Box(const RowError &bad, const std::optional<double> (&v)[4],
                 const std::string (&text)[4]) {
    static constexpr const char *kNames[] = {"x", "y", "w", "h"};
    int32_t out[4] = {};
    for (int k = 0; k < 4; ++k) {
        if (!v[k] || std::fabs(*v[k]) > 1e9) {
            bad("'" + Printable(text[k]) + "' is not a number (" + kNames[k] + ")");
        }
        out[k] = static_cast<int32_t>(std::lround(*v[k]));
    }
    if (out[2] < 1 || out[3] < 1) {
        bad("the box " + text[0] + "," + text[1] + "," + text[2] + "," + text[3] +
            " has no width or height");
    }
    return ZAVImageRect{out[0], out[1], out[2], out[3]};
}

void CheckColor(const RowError &bad, const std::string &color) {
    if (!color.empty() && !IsColorName(color)) {
        bad("'" + Printable(color) +
            "' is not a colour: black, white, red, green, blue, yellow, cyan, magenta, gray, "
            "orange or #RRGGBB");
    }
}

std::string Key(std::string file) {
    while (file.size() > 2 && file.compare(0, 2, "./") == 0) {
        file.erase(0, 2);
    }
    return file;
}

}  // namespace

Detections Detections::Read(const std::string &field, const std::string &path,
                            std::optional<double> minScore) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || !std::filesystem::is_regular_file(path, ec)) {
        throw UsageError(field + ": '" + Printable(path) + "' cannot be read");
    }
    if (size > kMaxFileBytes) {
        throw UsageError(field + ": '" + Printable(path) + "' is larger than 1 GiB");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw UsageError(field + ": '" + Printable(path) + "' cannot be read");
    }
    Detections d;
    const std::string shown = field + ": " + Printable(path);
    std::string line;
    std::size_t number = 0;
    bool jsonLines = false;
    bool first = true;
    const auto add = [&](const std::string &file, Detection det) {
        Entry &entry = d.m_byFile[Key(file)];
        ++entry.rows;
        ++d.m_rows;
        if (!minScore || !det.score || *det.score >= *minScore) {
            entry.boxes.push_back(std::move(det));
        }
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find_first_not_of(" \t") == std::string::npos) {
            continue;
        }
        const RowError bad(shown + " line " + std::to_string(number));
        if (first) {
            jsonLines = line[line.find_first_not_of(" \t")] == '{';
        }
        if (jsonLines) {
            const nlohmann::json row = nlohmann::json::parse(line, nullptr, false);
            if (row.is_discarded() || !row.is_object()) {
                bad("not a JSON object");
            }
            if (!row.contains("file") || !row["file"].is_string() ||
                row["file"].get<std::string>().empty()) {
                bad("no \"file\"");
            }
            const std::string file = row["file"].get<std::string>();
            const nlohmann::json boxes = row.value("boxes", nlohmann::json::array());
            if (!boxes.is_array()) {
                bad("\"boxes\" is not a list");
            }
            if (boxes.empty()) {
                d.m_byFile[Key(file)];  // a file with no detection is still the detector's
            }
            for (const nlohmann::json &b : boxes) {
                if (!b.is_object()) {
                    bad("a box is not an object");
                }
                std::optional<double> v[4];
                std::string text[4];
                static constexpr const char *kKeys[] = {"x", "y", "w", "h"};
                for (int k = 0; k < 4; ++k) {
                    const nlohmann::json value = b.value(kKeys[k], nlohmann::json());
                    v[k] = Number(value);
                    text[k] = value.is_string() ? value.get<std::string>() : value.dump();
                }
                Detection det;
                det.box = Box(bad, v, text);
                if (b.contains("label") && !b["label"].is_null()) {
                    det.label =
                        b["label"].is_string() ? b["label"].get<std::string>() : b["label"].dump();
                }
                if (b.contains("color") && !b["color"].is_null()) {
                    det.color =
                        b["color"].is_string() ? b["color"].get<std::string>() : b["color"].dump();
                    CheckColor(bad, det.color);
                }
                if (b.contains("score") && !b["score"].is_null()) {
                    det.score = Number(b["score"]);
                    if (!det.score) {
                        bad("'" + Printable(b["score"].dump()) + "' is not a number (score)");
                    }
                }
                add(file, std::move(det));
            }
        } else {
            const std::optional<std::vector<std::string>> f = CsvFields(line);
            if (!f) {
                bad("a quote is not closed");
            }
            if (first && f->size() >= 2 && !Number((*f)[1]) && (*f)[0] == "file") {
                first = false;  // the header line
                continue;
            }
            if (f->size() < 5 || f->size() > 8) {
                bad("not file,x,y,w,h[,label[,color[,score]]] (" + std::to_string(f->size()) +
                    " fields)");
            }
            if ((*f)[0].empty()) {
                bad("no file name");
            }
            std::optional<double> v[4];
            std::string text[4];
            for (int k = 0; k < 4; ++k) {
                text[k] = (*f)[static_cast<std::size_t>(k) + 1];
                v[k] = Number(text[k]);
            }
            Detection det;
            det.box = Box(bad, v, text);
            if (f->size() > 5) {
                det.label = (*f)[5];
            }
            if (f->size() > 6) {
                det.color = (*f)[6];
                CheckColor(bad, det.color);
            }
            if (f->size() > 7 && !(*f)[7].empty()) {
                det.score = Number((*f)[7]);
                if (!det.score) {
                    bad("'" + Printable((*f)[7]) + "' is not a number (score)");
                }
            }
            add((*f)[0], std::move(det));
        }
        first = false;
    }
    return d;
}

const std::vector<Detection> *Detections::Find(const std::string &path, const std::string &relative,
                                               const std::string &name) {
    for (const std::string &key : {Key(path), Key(relative), name}) {
        if (auto it = m_byFile.find(key); it != m_byFile.end()) {
            it->second.used = true;
            return &it->second.boxes;
        }
    }
    return nullptr;
}

std::size_t Detections::UnusedRows() const {
    std::size_t unused = 0;
    for (const auto &[file, entry] : m_byFile) {
        if (!entry.used) {
            unused += entry.rows;
        }
    }
    return unused;
}

}  // namespace zav::job
