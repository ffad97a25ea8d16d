// Why a file could not be read or written, made precise where the file system tells more than the
// library's status: "folder not found", "file not found", "is a folder", "empty file".
#pragma once

#include <optional>
#include <string>

#include "zavimage/zavimage.h"

namespace zav::job {

// What the file system says about a path that cannot be read; none when it is a non-empty file
// (or cannot be told).
std::optional<std::string> PathProblem(const std::string &path);
const char *PathProblemText(const char *path);  // the same, static text or null

// The file status that a problem of PathProblem stands for (-1 for none).
int32_t PathProblemStatus(std::string_view problem);

// Why the object's last load or probe of `path` failed (static text).
const char *ReadFailure(ZAVImageObject *obj, const char *path);
// Why the object's last save to `path` failed (static text).
const char *WriteFailure(ZAVImageObject *obj, const char *path);

}  // namespace zav::job
