// Messages for command lines: the job's fields named as the options that set them.
#pragma once

#include <string>

namespace zav::job {

// The message with the field it starts with ("text_color: ...", "opacity is for ...") and every
// field with an underscore written as options ("--text-color").
std::string AsOptions(const std::string &message);

}  // namespace zav::job
