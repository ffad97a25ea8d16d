// Where the caption font comes from.
#pragma once

#include <string>

namespace zav {

// The first font file a caption tries unless the object names another one. On this platform it is
// opened as it stands: a relative file name.
inline constexpr const char kDefaultFontPath[] = "c:\\windows\\fonts\\SIMHEI.TTF";

struct FontLocation {
    std::string path;
    long faceIndex = 0;
};

// fontconfig's best match for the family SimHei with language zh-cn, and the face index it names.
// Looked up once per process (safe from any thread); null when fontconfig names no font file.
const FontLocation *SystemCaptionFont() noexcept;

}  // namespace zav
