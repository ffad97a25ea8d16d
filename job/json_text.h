// JSON text from outside the library (a job document, a line of a detections file) parsed with
// its nesting bounded. nlohmann's parser is iterative, but copying or dumping a value recurses
// once per level: a text nested deeper than kMaxJsonDepth is refused while it is parsed, before
// anything can walk it.
#pragma once

#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <string_view>

namespace zav::job {

using Json = nlohmann::json;

// Arrays and objects inside one another, the outermost counted.
constexpr int kMaxJsonDepth = 64;

// Parses `text` whole. `what` names the text in messages ("the job", "detections: d.jsonl"),
// followed by " line N" when `line` is above 0. Throws UsageError (ZAV_REFUSED_VALUE):
//   "WHAT[ line N]: nested deeper than 64 levels in 'FIELD'" (the top-level field it happens
//     in; without " in ..." when the text is not an object),
//   "WHAT[ line N]: a number beyond the range of a double in 'FIELD.KEY' (1e999)" (the keys
//     leading to the number),
//   "WHAT[ line N]: not JSON: DETAIL" (nlohmann's account of any other fault, without its
//     "[json.exception...]" prefix, escaped and cut to a readable length).
// Memory shortage goes out as std::bad_alloc.
Json ParseJsonText(std::string_view text, std::string_view what, std::size_t line = 0);

}  // namespace zav::job
