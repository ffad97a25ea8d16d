// Replays saved inputs through a fuzz target without libFuzzer, so that ctest can run every
// reader's seeds and the inputs that once crashed it in the plain and the sanitizer builds.
//
//   replay_<name> [--optional] PATH...
//
// Each PATH is a file, fed to LLVMFuzzerTestOneInput as it is, or a folder, whose files (not its
// subfolders, not hidden files) are fed one by one in order of name. A path after --optional may be
// missing (a folder of regressions that has none yet). The run fails when a path is missing or
// unreadable or nothing was fed at all; a crash, a sanitizer report or a leak fails it as well.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

namespace fs = std::filesystem;

// Feeds one file to the target in a block of exactly its size, as libFuzzer does, so that the
// sanitizers see a read past its end.
bool ReplayFile(const fs::path &file) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    std::ifstream in(file, std::ios::binary);
    if (error || !in) {
        std::fprintf(stderr, "replay: cannot open %s\n", file.c_str());
        return false;
    }
    auto data = std::make_unique<uint8_t[]>(size);
    if (!in.read(reinterpret_cast<char *>(data.get()), static_cast<std::streamsize>(size)) ||
        in.peek() != std::ifstream::traits_type::eof()) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    // Named before it runs: a crash report then follows the name of the input that caused it.
    std::fprintf(stderr, "replay: %s (%ju bytes)\n", file.c_str(), size);
    LLVMFuzzerTestOneInput(data.get(), size);
    return true;
}

// The files of a folder in order of name, hidden files and subfolders left out.
bool ListFolder(const fs::path &folder, std::vector<fs::path> *files) {
    std::error_code error;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path &path = it->path();
        if (path.filename().string().starts_with(".") || !it->is_regular_file(error)) {
            continue;
        }
        found.push_back(path);
    }
    if (error) {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", folder.c_str(),
                     error.message().c_str());
        return false;
    }
    std::sort(found.begin(), found.end());
    files->insert(files->end(), found.begin(), found.end());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<fs::path> files;
    bool ok = true;
    bool optional = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--optional") == 0) {
            optional = true;
            continue;
        }
        const fs::path path = argv[i];
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (!fs::exists(status)) {
            if (!optional) {
                std::fprintf(stderr, "replay: %s does not exist\n", path.c_str());
                ok = false;
            }
        } else if (fs::is_directory(status)) {
            ok = ListFolder(path, &files) && ok;
        } else {
            files.push_back(path);
        }
        optional = false;
    }
    if (!ok) {
        return 1;
    }
    if (files.empty()) {
        std::fprintf(stderr, "replay: no input to feed\n");
        return 1;
    }
    for (const fs::path &file : files) {
        if (!ReplayFile(file)) {
            return 1;
        }
    }
    std::fprintf(stderr, "replay: %zu inputs fed\n", files.size());
    return 0;
}
