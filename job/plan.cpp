#include "job/plan.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "job/file_reasons.h"
#include "job/printable.h"
#include "job/template.h"
#include "job/usage_error.h"

namespace zav::job {
namespace {

namespace fs = std::filesystem;

using FileId = std::pair<dev_t, ino_t>;

// An input file, with the folder path below the given folder that its output keeps.
struct Input {
    std::string path;
    fs::path below;  // empty, or the subfolders under a given folder (recursive)
    std::size_t source = 0;
    bool memory = false;
};

std::optional<FileId> IdOf(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileId{st.st_dev, st.st_ino};
}

// The pictures of a folder, sorted by name; subfolders walked or counted.
void WalkFolder(const fs::path &root, std::size_t source, bool recursive, std::vector<Input> &found,
                Plan &plan) {
    std::vector<std::pair<fs::path, fs::path>> pending{{root, {}}};
    while (!pending.empty()) {
        auto [dir, below] = pending.back();
        pending.pop_back();
        std::vector<fs::directory_entry> entries;
        std::error_code ec;
        for (const fs::directory_entry &entry : fs::directory_iterator(dir, ec)) {
            entries.push_back(entry);
        }
        std::sort(entries.begin(), entries.end());
        std::vector<std::pair<fs::path, fs::path>> subfolders;
        for (const fs::directory_entry &entry : entries) {
            std::error_code typeEc;
            if (entry.is_directory(typeEc)) {
                if (recursive && !entry.is_symlink(typeEc)) {
                    subfolders.emplace_back(entry.path(), below / entry.path().filename());
                } else {
                    ++plan.subfolders;
                }
            } else if (entry.is_regular_file(typeEc) &&
                       IsPictureName(entry.path().filename().string())) {
                found.push_back({entry.path().string(), below, source, false});
            } else {
                ++plan.otherFiles;
            }
        }
        // depth first, in name order
        pending.insert(pending.end(), subfolders.rbegin(), subfolders.rend());
    }
}

std::optional<std::time_t> ModificationTime(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return st.st_mtime;
}

std::string OutputName(const Input &in, const Description &d, std::size_t index,
                       std::size_t count) {
    fs::path name = fs::path(in.path).filename();
    if (d.name) {
        FrameFacts facts;
        facts.path = in.path;
        facts.index = index;
        facts.count = count;
        if (d.name->Uses(TemplatePart::Kind::kMtime) && !in.memory && !IsStandardStream(in.path)) {
            facts.mtime = ModificationTime(in.path);
        }
        const std::string expanded = Expand(*d.name, facts);
        if (expanded.empty() || expanded.find('/') != std::string::npos || expanded == "." ||
            expanded == "..") {
            throw UsageError("name: '" + Printable(expanded) + "' (for " + Printable(in.path) +
                             ") is not a file name");
        }
        name = expanded;
    }
    if (!d.format.empty()) {
        name.replace_extension("." + d.format);
    }
    return (fs::path(d.outDir) / in.below / name).string();
}

// The identity of an output: its device and inode when it exists, else its absolute path with
// the links of the existing part resolved.
std::string OutputKey(const std::string &path) {
    if (const std::optional<FileId> id = IdOf(path)) {
        return "#" + std::to_string(id->first) + ":" + std::to_string(id->second);
    }
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path : canonical.string();
}

[[noreturn]] void Refuse(int32_t kind, const std::string &heading,
                         const std::vector<std::string> &lines) {
    std::string message = heading;
    constexpr std::size_t kShown = 10;
    for (std::size_t i = 0; i < lines.size() && i < kShown; ++i) {
        message += "\n  " + lines[i];
    }
    if (lines.size() > kShown) {
        message += "\n  and " + std::to_string(lines.size() - kShown) + " more";
    }
    throw UsageError(message, kind);
}

// "-" reads standard input once, into one output named by "output"; "-" writes standard output
// in the format "format" names, never to a terminal.
void CheckStandardStreams(const Description &d, const Streams &streams) {
    std::size_t fromInput = static_cast<std::size_t>(
        std::count_if(d.inputs.begin(), d.inputs.end(),
                      [](const InputSpec &s) { return !s.memory && IsStandardStream(s.name); }));
    if (d.steps.copy && IsStandardStream(d.steps.copy->source)) {
        ++fromInput;
    }
    if (fromInput > 1) {
        throw UsageError("standard input (-) can be read once", ZAV_REFUSED_STREAMS);
    }
    if (fromInput == 1) {
        if (d.output.empty()) {
            throw UsageError("a picture from standard input (-) needs one output: -o OUT",
                             ZAV_REFUSED_STREAMS);
        }
        if (streams.inputIsTerminal) {
            throw UsageError("standard input (-) is a terminal: pipe a picture in",
                             ZAV_REFUSED_STREAMS);
        }
    }
    if (IsStandardStream(d.output)) {
        if (d.format.empty()) {
            throw UsageError("standard output (-) needs --format EXT to name the format (" +
                                 KnownExtensions() + ")",
                             ZAV_REFUSED_STREAMS);
        }
        if (streams.outputIsTerminal) {
            throw UsageError("standard output (-) is a terminal: redirect it to a file or a pipe",
                             ZAV_REFUSED_STREAMS);
        }
    }
}

std::string Plural(std::size_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

Item Failed(const std::string &name, std::size_t source, std::string reason) {
    Item item;
    item.input = name;
    item.source = source;
    item.planned = true;
    item.state = ZAV_ITEM_FAILED;
    item.status = PathProblemStatus(reason);
    item.reason = std::move(reason);
    item.message = ItemMessage(item);
    return item;
}

// An item whose output cannot be written, found before any work.
Item OutputFailed(Item item, std::string reason) {
    item.planned = true;
    item.state = ZAV_ITEM_FAILED;
    item.status = -1;
    item.aboutOutput = true;
    item.reason = std::move(reason);
    item.message = ItemMessage(item);
    return item;
}

}  // namespace

bool IsPictureName(const std::string &name) {
    return WritesExtension(NameExtension(fs::path(name).extension().string()));
}

std::string ItemMessage(const Item &item) {
    return ShownName(item.aboutOutput ? item.output : item.input, item.aboutOutput) + ": " +
           item.reason;
}

Plan MakePlan(const Description &d, const Streams &streams) {
    if (d.inputs.empty()) {
        throw UsageError("no input picture given");
    }
    if (d.output.empty() == d.outDir.empty()) {
        throw UsageError("give either -o OUT (one input) or --out-dir DIR");
    }
    CheckStandardStreams(d, streams);
    Plan plan;
    std::vector<Item> failures;
    std::vector<Input> inputs;
    for (std::size_t source = 0; source < d.inputs.size(); ++source) {
        const InputSpec &given = d.inputs[source];
        std::error_code ec;
        if (given.memory || IsStandardStream(given.name)) {
            inputs.push_back({given.name, {}, source, given.memory});
            continue;
        }
        const fs::file_status status = fs::status(given.name, ec);
        if (fs::is_directory(status)) {
            if (!d.folders) {
                failures.push_back(Failed(given.name, source, "is a folder"));
                continue;
            }
            const std::size_t before = inputs.size();
            const std::size_t othersBefore = plan.otherFiles + plan.subfolders;
            WalkFolder(given.name, source, d.recursive, inputs, plan);
            if (inputs.size() == before) {
                const std::size_t others = plan.otherFiles + plan.subfolders - othersBefore;
                failures.push_back(
                    Failed(given.name, source,
                           others == 0 ? "no pictures in this folder (it is empty)"
                                       : "no pictures in this folder (" +
                                             Plural(others, "other entry", "other entries") + ")"));
            }
        } else if (auto problem = PathProblem(given.name)) {
            failures.push_back(Failed(given.name, source, *problem));
        } else {
            inputs.push_back({given.name, {}, source, false});
        }
    }

    if (!d.output.empty() && (inputs.size() + failures.size() > 1 || d.inputs.size() != 1)) {
        throw UsageError("one output takes one input picture; give --out-dir for many");
    }

    // The detector's boxes, read before any work: a row that does not parse stops the job.
    std::optional<Detections> detections;
    if (!d.detections.empty()) {
        detections = Detections::Read("detections", d.detections, d.minScore);
    }

    // The output names and their formats.
    std::vector<Item> work;
    std::vector<std::string> noFormat;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        const Input &in = inputs[k];
        Item item;
        item.input = in.path;
        item.source = in.source;
        item.memory = in.memory;
        item.index = k + 1;
        item.count = inputs.size();
        item.output = d.output.empty() ? OutputName(in, d, item.index, item.count) : d.output;
        if (detections) {
            const std::string name = fs::path(in.path).filename().string();
            if (const std::vector<Detection> *boxes =
                    detections->Find(in.path, (in.below / name).string(), name)) {
                item.detections = *boxes;
            }
        }
        const std::string ext =
            IsStandardStream(item.output) ? d.format : NameExtension(item.output);
        if (!WritesExtension(ext)) {
            noFormat.push_back(Printable(item.output) +
                               (ext.empty()
                                    ? ": the name has no extension to pick a format"
                                    : ": '" + Printable(ext) + "' is not a format written"));
        }
        work.push_back(std::move(item));
    }
    if (!noFormat.empty()) {
        Refuse(ZAV_REFUSED_NO_FORMAT,
               "no format for these outputs (the extensions written: " + KnownExtensions() +
                   (d.outDir.empty() ? ")" : "; --format picks one)"),
               noFormat);
    }

    // Two inputs writing one output.
    std::map<std::string, std::vector<std::size_t>> byOutput;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!IsStandardStream(work[i].output)) {
            byOutput[OutputKey(work[i].output)].push_back(i);
        }
    }
    std::vector<std::string> collisions;
    for (const auto &[key, users] : byOutput) {
        if (users.size() > 1) {
            std::string line = Printable(work[users[0]].output) + " <-";
            for (std::size_t k = 0; k < users.size(); ++k) {
                line += (k == 0 ? " " : ", ") + Printable(work[users[k]].input);
            }
            collisions.push_back(line);
        }
    }
    if (!collisions.empty()) {
        Refuse(ZAV_REFUSED_CLASH,
               "these inputs would write the same output (nothing was done):", collisions);
    }

    // Outputs that exist: an input, a folder, or a file to keep (no_clobber).
    std::set<FileId> inputIds;
    for (const Input &in : inputs) {
        if (!in.memory && !IsStandardStream(in.path)) {
            if (const auto id = IdOf(in.path)) {
                inputIds.insert(*id);
            }
        }
    }
    if (d.steps.copy && !IsStandardStream(d.steps.copy->source)) {
        if (const auto id = IdOf(d.steps.copy->source)) {
            inputIds.insert(*id);
        }
    }
    std::vector<std::string> overwrites;
    std::vector<Item> kept;
    std::vector<Item> skipped;
    for (Item &item : work) {
        std::error_code ec;
        const fs::file_status status = fs::status(item.output, ec);
        if (IsStandardStream(item.output)) {
            // standard output: nothing to keep or replace
        } else if (!fs::exists(status)) {
            const fs::path parent = fs::path(item.output).parent_path();
            if (d.outDir.empty() && !parent.empty() && !fs::is_directory(parent, ec)) {
                failures.push_back(OutputFailed(std::move(item), "folder not found"));
                continue;
            }
        } else if (fs::is_directory(status)) {
            failures.push_back(OutputFailed(std::move(item), "is a folder"));
            continue;
        } else if (d.noClobber) {
            item.planned = true;
            item.state = ZAV_ITEM_SKIPPED;
            skipped.push_back(std::move(item));
            continue;
        } else if (const auto id = IdOf(item.output);
                   id && inputIds.count(*id) != 0 && !d.inPlace) {
            overwrites.push_back(Printable(item.output) + " is the input " + Printable(item.input));
        }
        kept.push_back(std::move(item));
    }
    if (!overwrites.empty()) {
        Refuse(ZAV_REFUSED_OVERWRITE,
               "these outputs would replace an input (give --in-place to allow it, or another "
               "output):",
               overwrites);
    }
    if (!d.outDir.empty()) {
        std::set<std::string> folders{d.outDir};
        for (const Item &item : kept) {
            folders.insert(fs::path(item.output).parent_path().string());
        }
        plan.folders.assign(folders.begin(), folders.end());
    }
    if (detections) {
        plan.unusedDetections = detections->UnusedRows();
    }
    plan.items = std::move(failures);
    std::move(skipped.begin(), skipped.end(), std::back_inserter(plan.items));
    std::move(kept.begin(), kept.end(), std::back_inserter(plan.items));
    return plan;
}

}  // namespace zav::job
