// Files for tests: a temporary folder, whole-file reading and writing, fields of file headers, and
// the command-line tools of Debian's image packages.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/codecs/byte_order.h"

namespace zavtest {

// A folder of its own under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        const char *base = getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zavtest.XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempDir() {
        if (!m_path.empty()) {
            const std::string command =
                "chmod -R u+rwX '" + m_path + "' 2>/dev/null; rm -rf '" + m_path + "'";
            [[maybe_unused]] const int rc = std::system(command.c_str());
        }
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    bool ok() const { return !m_path.empty(); }
    const std::string &path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

inline std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline bool FileExists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Files in a folder, "." and ".." left out.
inline std::vector<std::string> ListFolder(const std::string &path) {
    std::vector<std::string> names;
    const std::string command = "ls -A '" + path + "'";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return names;
    }
    char line[4096];
    while (fgets(line, sizeof line, pipe) != nullptr) {
        std::string name(line);
        while (!name.empty() && name.back() == '\n') {
            name.pop_back();
        }
        names.push_back(name);
    }
    pclose(pipe);
    return names;
}

// Fields of a file's bytes at `at` (the caller keeps them inside the file).
inline uint16_t LittleEndian16At(const std::vector<uint8_t> &bytes, std::size_t at) {
    return zav::LoadLittleEndian16(bytes.data() + at);
}
inline uint32_t LittleEndian32At(const std::vector<uint8_t> &bytes, std::size_t at) {
    return zav::LoadLittleEndian32(bytes.data() + at);
}
inline uint32_t BigEndian32At(const std::vector<uint8_t> &bytes, std::size_t at) {
    return zav::LoadBigEndian32(bytes.data() + at);
}

// Appends a field to bytes being built.
inline void AppendLittleEndian16(std::vector<uint8_t> *bytes, uint16_t v) {
    bytes->resize(bytes->size() + 2);
    zav::StoreLittleEndian16(bytes->data() + bytes->size() - 2, v);
}
inline void AppendLittleEndian32(std::vector<uint8_t> *bytes, uint32_t v) {
    bytes->resize(bytes->size() + 4);
    zav::StoreLittleEndian32(bytes->data() + bytes->size() - 4, v);
}
inline void AppendBigEndian32(std::vector<uint8_t> *bytes, uint32_t v) {
    bytes->resize(bytes->size() + 4);
    zav::StoreBigEndian32(bytes->data() + bytes->size() - 4, v);
}

// Runs a shell command, its output silenced; true when it exits with 0.
inline bool Shell(const std::string &command) {
    return std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()) == 0;
}

// True when a program is installed.
inline bool HaveTool(const std::string &name) {
    return Shell("command -v " + name);
}

// ImageMagick's own convert, not any wrapper that may come first on the path.
inline std::string ImageMagick() {
    return access("/usr/bin/convert-im6.q16", X_OK) == 0 ? "/usr/bin/convert-im6.q16" : "convert";
}

inline std::string Quote(const std::string &path) {
    return "'" + path + "'";
}

}  // namespace zavtest
