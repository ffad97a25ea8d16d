#include "job/plan.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "job/file_reasons.h"
#include "job/output_folder.h"
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
        name = ExpandName(*d.name, facts, "name");
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

// Refuses two items that would write one output (nothing done).
void RefuseClashes(const std::vector<Item> &work) {
    std::map<std::string, std::vector<std::size_t>> byOutput;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].output.empty() && !IsStandardStream(work[i].output)) {
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
}

// Refuses outputs that would replace a file the work reads: another item's input or the copy
// step's picture always (it may not have been read yet when the output replaces it), the item's
// own input unless in_place.
void RefuseReplacedInputs(const Description &d, const std::vector<Item> &work) {
    // The files read, each looked at once: by item, and by identity with the name given.
    std::vector<std::optional<FileId>> inputIds;
    std::map<FileId, std::string> inputs;
    for (const Item &item : work) {
        inputIds.push_back(item.memory || IsStandardStream(item.input) ? std::nullopt
                                                                       : IdOf(item.input));
        if (inputIds.back()) {
            inputs.emplace(*inputIds.back(), item.input);
        }
    }
    std::optional<FileId> copyId;
    if (d.steps.copy && !IsStandardStream(d.steps.copy->source)) {
        copyId = IdOf(d.steps.copy->source);
    }
    std::vector<std::string> others;
    std::vector<std::string> own;
    for (std::size_t k = 0; k < work.size(); ++k) {
        const Item &item = work[k];
        if (item.output.empty() || IsStandardStream(item.output)) {
            continue;
        }
        const auto id = IdOf(item.output);
        if (!id) {
            continue;
        }
        const std::optional<FileId> &ownId = inputIds[k];
        if (copyId && *id == *copyId) {
            others.push_back(Printable(item.output) + " is the picture copied in, " +
                             Printable(d.steps.copy->source));
        } else if (ownId && *id == *ownId) {
            if (!d.inPlace) {
                own.push_back(Printable(item.output) + " is the input " + Printable(item.input));
            }
        } else if (const auto found = inputs.find(*id); found != inputs.end()) {
            others.push_back(Printable(item.output) + " (from " + Printable(item.input) +
                             ") is the input " + Printable(found->second));
        }
    }
    if (!others.empty()) {
        Refuse(ZAV_REFUSED_CLASH,
               "these outputs would replace a picture another input still reads (nothing was "
               "done):",
               others);
    }
    if (!own.empty()) {
        Refuse(ZAV_REFUSED_OVERWRITE,
               "these outputs would replace an input (give --in-place to allow it, or another "
               "output):",
               own);
    }
}

// The folders below out_dir that the written outputs go to ("" for out_dir itself).
std::vector<std::string> OutputFolders(const Description &d, const std::vector<Item> &work) {
    if (d.outDir.empty()) {
        return {};
    }
    std::set<std::string> folders{""};
    for (const Item &item : work) {
        if (!item.planned) {
            folders.insert(item.below);
        }
    }
    return {folders.begin(), folders.end()};
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
        Detections::Keys wanted;  // what Find looks each input up by: only their rows are kept
        for (const Input &in : inputs) {
            const std::string name = fs::path(in.path).filename().string();
            wanted.insert({in.path, (in.below / name).string(), name});
        }
        detections = Detections::Read("detections", d.detections, d.minScore, wanted);
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
        item.below = d.output.empty() ? in.below.string() : std::string();
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

    RefuseClashes(work);

    // Outputs that exist: a folder, or a file to keep (no_clobber).
    std::vector<Item> kept;
    std::vector<Item> skipped;
    for (Item &item : work) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(item.output, ec);
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
        }
        kept.push_back(std::move(item));
    }
    RefuseReplacedInputs(d, kept);
    plan.folders = OutputFolders(d, kept);
    if (detections) {
        plan.unusedDetections = detections->UnusedRows();
    }
    plan.items = std::move(failures);
    std::move(skipped.begin(), skipped.end(), std::back_inserter(plan.items));
    std::move(kept.begin(), kept.end(), std::back_inserter(plan.items));
    return plan;
}

void CheckExportedPlan(const Description &d, Plan &plan) {
    const auto refuse = [](std::size_t index, const std::string &why) {
        throw UsageError("plan: item " + std::to_string(index) + ": " + why);
    };
    std::size_t count = 0;
    std::set<std::size_t> indexes;
    std::vector<Item> work;  // the items to work on, to check together
    for (std::size_t k = 0; k < plan.items.size(); ++k) {
        Item &item = plan.items[k];
        if (item.source >= d.inputs.size()) {
            refuse(k, "no input " + std::to_string(item.source));
        }
        const InputSpec &given = d.inputs[item.source];
        if (item.memory != given.memory) {
            refuse(k, "not an input given in memory");
        }
        // The input: the one given, or a picture below the folder given.
        fs::path below;
        if (item.input != given.name) {
            const std::string prefix = (fs::path(given.name) / "").string();
            const std::string rest = item.input.size() > prefix.size() &&
                                             item.input.compare(0, prefix.size(), prefix) == 0
                                         ? item.input.substr(prefix.size())
                                         : std::string();
            if (given.memory || IsStandardStream(given.name) || !d.folders || rest.empty() ||
                !IsPlainRelative(rest) || (fs::path(given.name) / rest).string() != item.input ||
                !IsPictureName(rest)) {
                refuse(k, Printable(item.input) + " is not " + Printable(given.name) +
                              " nor a picture in that folder");
            }
            below = fs::path(rest).parent_path();
            if (!below.empty() && !d.recursive) {
                refuse(k,
                       Printable(item.input) + " is in a subfolder, and the job is not recursive");
            }
        }
        if (item.planned) {
            if (item.state != ZAV_ITEM_FAILED && item.state != ZAV_ITEM_SKIPPED) {
                refuse(k, "a planned item is failed or skipped");
            }
            // A reason from elsewhere is shown escaped and bounded.
            item.reason =
                Printable(item.reason.substr(0, std::min<std::size_t>(item.reason.size(), 200)));
        } else if (item.state != ZAV_ITEM_PENDING || item.status != 0 || item.aboutOutput ||
                   !item.reason.empty()) {
            refuse(k, "an item to work on is pending");
        }
        if (item.planned && item.state == ZAV_ITEM_FAILED && !item.aboutOutput) {
            // an input refused by the plan: it has no output
            if (!item.output.empty()) {
                refuse(k, "a refused input has no output");
            }
            item.message = ItemMessage(item);
            continue;
        }
        // The output: the name the description gives this input.
        if (item.count == 0 || item.index == 0 || item.index > item.count ||
            (count != 0 && item.count != count) || !indexes.insert(item.index).second) {
            refuse(k, "its place in the batch is not one of the plan's");
        }
        count = item.count;
        const Input in{item.input, below, item.source, item.memory};
        const std::string expected =
            d.output.empty() ? OutputName(in, d, item.index, item.count) : d.output;
        if (item.output != expected) {
            refuse(k, "the output " + Printable(item.output) + " is not the job's name for " +
                          Printable(item.input) + " (" + Printable(expected) + ")");
        }
        item.below = d.output.empty() ? below.string() : std::string();
        Detections::CheckBoxes("plan: item " + std::to_string(k) + ": detections", item.detections);
        const std::string ext =
            IsStandardStream(item.output) ? d.format : NameExtension(item.output);
        if (!WritesExtension(ext)) {
            refuse(k, Printable(item.output) + ": no format written");
        }
        if (item.state == ZAV_ITEM_FAILED) {
            item.message = ItemMessage(item);
        }
        work.push_back(item);
    }
    if (!d.output.empty() && plan.items.size() > 1) {
        throw UsageError("plan: one output takes one input picture");
    }
    RefuseClashes(work);
    std::vector<Item> toDo;
    for (const Item &item : work) {
        if (!item.planned) {
            toDo.push_back(item);
        }
    }
    RefuseReplacedInputs(d, toDo);
    plan.folders = OutputFolders(d, toDo);
}

}  // namespace zav::job
