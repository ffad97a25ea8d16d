#include "tools/zavimage/plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <utility>

#include "tools/zavimage/display.h"
#include "tools/zavimage/formats.h"
#include "tools/zavimage/image.h"
#include "tools/zavimage/interrupt.h"
#include "tools/zavimage/streams.h"

namespace zavtool {
namespace {

namespace fs = std::filesystem;

using FileId = std::pair<dev_t, ino_t>;

// An input file, with the folder path below the given folder that its output keeps.
struct Input {
    std::string path;
    fs::path below;  // empty, or the subfolders under a given folder (with --recursive)
};

std::optional<FileId> IdOf(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileId{st.st_dev, st.st_ino};
}

// The pictures of a folder, sorted by name; subfolders walked or counted.
void WalkFolder(const fs::path &root, bool recursive, std::vector<Input> &found, Plan &plan) {
    std::vector<std::pair<fs::path, fs::path>> pending{{root, {}}};
    while (!pending.empty() && !StopRequested()) {
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
                found.push_back({entry.path().string(), below});
            } else {
                ++plan.otherFiles;
            }
        }
        // depth first, in name order
        pending.insert(pending.end(), subfolders.rbegin(), subfolders.rend());
    }
}

std::string OutputName(const Input &in, const PlanRequest &request) {
    fs::path name = fs::path(in.path).filename();
    if (!request.format.empty()) {
        name.replace_extension("." + request.format);
    }
    return (fs::path(request.outDir) / in.below / name).string();
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

[[noreturn]] void Refuse(const std::string &heading, const std::vector<std::string> &lines) {
    std::string message = heading;
    constexpr std::size_t kShown = 10;
    for (std::size_t i = 0; i < lines.size() && i < kShown; ++i) {
        message += "\n  " + lines[i];
    }
    if (lines.size() > kShown) {
        message += "\n  and " + std::to_string(lines.size() - kShown) + " more";
    }
    throw UsageError(message);
}

// "-" reads standard input once, into one output named with -o; "-" writes standard output in
// the format --format names, never to a terminal.
void CheckStandardStreams(const PlanRequest &request) {
    const auto count = [](const std::vector<std::string> &names) {
        return std::count_if(names.begin(), names.end(),
                             [](const std::string &s) { return IsStandardStream(s); });
    };
    const auto fromInput = count(request.inputs) + count(request.alsoRead);
    if (fromInput > 1) {
        throw UsageError("standard input (-) can be read once");
    }
    if (fromInput == 1) {
        if (request.output.empty()) {
            throw UsageError("a picture from standard input (-) needs one output: -o OUT");
        }
        if (::isatty(STDIN_FILENO) == 1) {
            throw UsageError("standard input (-) is a terminal: pipe a picture in");
        }
    }
    if (IsStandardStream(request.output)) {
        if (request.format.empty()) {
            throw UsageError("standard output (-) needs --format EXT to name the format (" +
                             KnownExtensions() + ")");
        }
        if (StandardOutputIsTerminal()) {
            throw UsageError("standard output (-) is a terminal: redirect it to a file or a pipe");
        }
    }
}

std::string Plural(std::size_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool IsPictureName(const std::string &name) {
    return FindOutputFormat(NameExtension(fs::path(name).extension().string())) != nullptr;
}

Plan MakePlan(const PlanRequest &request) {
    Plan plan;
    std::vector<Input> inputs;
    CheckStandardStreams(request);
    for (const std::string &given : request.inputs) {
        std::error_code ec;
        const fs::file_status status = fs::status(given, ec);
        if (IsStandardStream(given)) {
            inputs.push_back({given, {}});
        } else if (fs::is_directory(status)) {
            if (!request.folders) {
                plan.failures.push_back({Printable(given), "is a folder"});
                continue;
            }
            const std::size_t before = inputs.size();
            const std::size_t othersBefore = plan.otherFiles + plan.subfolders;
            WalkFolder(given, request.recursive, inputs, plan);
            if (inputs.size() == before) {
                const std::size_t others = plan.otherFiles + plan.subfolders - othersBefore;
                plan.failures.push_back(
                    {Printable(given),
                     others == 0 ? "no pictures in this folder (it is empty)"
                                 : "no pictures in this folder (" +
                                       Plural(others, "other entry", "other entries") + ")"});
            }
        } else if (auto problem = PathProblem(given)) {
            plan.failures.push_back({Printable(given), *problem});
        } else {
            inputs.push_back({given, {}});
        }
    }

    if (!request.output.empty()) {
        if (inputs.size() + plan.failures.size() > 1 || request.inputs.size() != 1) {
            throw UsageError("one output takes one input picture; give --out-dir for many");
        }
    }

    // The output names and their formats.
    std::vector<std::string> noFormat;
    for (const Input &in : inputs) {
        Job job{in.path, request.output.empty() ? OutputName(in, request) : request.output, {}};
        if (IsStandardStream(job.output)) {
            job.format = request.format;
        }
        const std::string ext =
            IsStandardStream(job.output) ? job.format : NameExtension(job.output);
        if (FindOutputFormat(ext) == nullptr) {
            noFormat.push_back(Printable(job.output) +
                               (ext.empty()
                                    ? ": the name has no extension to pick a format"
                                    : ": '" + Printable(ext) + "' is not a format written"));
        }
        plan.jobs.push_back(std::move(job));
    }
    if (!noFormat.empty()) {
        Refuse("no format for these outputs (the extensions written: " + KnownExtensions() +
                   (request.outDir.empty() ? ")" : "; --format picks one)"),
               noFormat);
    }

    // Two inputs writing one output.
    std::map<std::string, std::vector<std::size_t>> byOutput;
    for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
        if (IsStandardStream(plan.jobs[i].output)) {
            continue;  // one job
        }
        byOutput[OutputKey(plan.jobs[i].output)].push_back(i);
    }
    std::vector<std::string> collisions;
    for (const auto &[key, users] : byOutput) {
        if (users.size() > 1) {
            std::string line = Printable(plan.jobs[users[0]].output) + " <-";
            for (std::size_t k = 0; k < users.size(); ++k) {
                line += (k == 0 ? " " : ", ") + Printable(plan.jobs[users[k]].input);
            }
            collisions.push_back(line);
        }
    }
    if (!collisions.empty()) {
        Refuse("these inputs would write the same output (nothing was done):", collisions);
    }

    // Outputs that exist: an input, a folder, or a file to keep (--no-clobber).
    std::set<FileId> inputIds;
    for (const Input &in : inputs) {
        if (IsStandardStream(in.path)) {
            continue;
        }
        if (const auto id = IdOf(in.path)) {
            inputIds.insert(*id);
        }
    }
    for (const std::string &other : request.alsoRead) {
        if (IsStandardStream(other)) {
            continue;
        }
        if (const auto id = IdOf(other)) {
            inputIds.insert(*id);
        }
    }
    std::vector<std::string> overwrites;
    std::vector<Job> kept;
    for (Job &job : plan.jobs) {
        std::error_code ec;
        const fs::file_status status = fs::status(job.output, ec);
        if (IsStandardStream(job.output)) {
            // standard output: nothing to keep or replace
        } else if (!fs::exists(status)) {
            const fs::path parent = fs::path(job.output).parent_path();
            if (request.outDir.empty() && !parent.empty() && !fs::is_directory(parent, ec)) {
                plan.failures.push_back({Printable(job.output), "folder not found"});
                continue;
            }
        } else if (fs::is_directory(status)) {
            plan.failures.push_back({Printable(job.output), "is a folder"});
            continue;
        } else if (request.noClobber) {
            plan.skipped.push_back(std::move(job));
            continue;
        } else if (const auto id = IdOf(job.output);
                   id && inputIds.count(*id) != 0 && !request.inPlace) {
            overwrites.push_back(Printable(job.output) + " is the input " + Printable(job.input));
        }
        kept.push_back(std::move(job));
    }
    plan.jobs = std::move(kept);
    if (!overwrites.empty()) {
        Refuse(
            "these outputs would replace an input (give --in-place to allow it, or another "
            "output):",
            overwrites);
    }

    if (!request.outDir.empty()) {
        std::set<std::string> folders{request.outDir};
        for (const Job &job : plan.jobs) {
            folders.insert(fs::path(job.output).parent_path().string());
        }
        plan.folders.assign(folders.begin(), folders.end());
    }
    return plan;
}

std::optional<std::string> MakeOutputFolders(const Plan &plan) {
    for (const std::string &folder : plan.folders) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec && !fs::is_directory(folder)) {
            return Printable(folder) + ": cannot make the folder: " + ec.message();
        }
    }
    return std::nullopt;
}

}  // namespace zavtool
