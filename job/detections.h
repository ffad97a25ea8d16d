// Boxes a detector found, per file: a CSV file (file,x,y,w,h[,label[,color[,score]]], a header
// line optional) or JSON Lines ({"file": ..., "boxes": [{"x": .., "y": .., "w": .., "h": ..,
// "label": .., "color": .., "score": ..}]}), in the source picture's coordinates. Either may
// start with a UTF-8 byte-order mark.
//
// The file comes from elsewhere: it is read a line at a time, each line at most kMaxLineBytes,
// and only the rows of the batch's own pictures are kept (the others are counted), each picture
// at most kMaxBoxes boxes. Every row is checked whole, kept or not: a label is refused when the
// caption could not draw it on its tab (beyond kMaxLabelCharacters characters, a control
// character, bytes that are not UTF-8).
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "zavimage/zavimage.h"

namespace zav::job {

struct Detection {
    ZAVImageRect box{};
    std::string label;
    std::string color;  // as given: a colour name or #RRGGBB; empty for the job's own
    std::optional<double> score;
};

class Detections {
  public:
    using Keys = std::set<std::string, std::less<>>;

    // A line of the file, its line feed and a carriage return before it left out.
    static constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;
    // Boxes kept for one file of the batch.
    static constexpr std::size_t kMaxBoxes = 10000;
    // A label's characters: the caption's limit less the room the tab's score takes (a space
    // and at most 31 characters).
    static constexpr std::size_t kMaxLabelCharacters = ZAV_TEXT_MAX_CHARACTERS - 32;

    // Reads a file; a row that does not parse is a UsageError naming `field`, the file, its line
    // and the value. Rows under `minScore` are left out (rows without a score are kept). Rows are
    // kept for the files named as one of `wanted` (the pictures' paths as given, their paths below
    // the folder they were found in, their names: what Find looks up); the others are counted.
    static Detections Read(const std::string &field, const std::string &path,
                           std::optional<double> minScore, const Keys &wanted);
    // The same from the bytes of a file held in memory; `name` stands for the file in messages.
    static Detections Parse(const std::string &field, std::string_view name, std::string_view bytes,
                            std::optional<double> minScore, const Keys &wanted);

    // Checks boxes that come from elsewhere (a plan made in another process) as a file's rows are
    // checked: at most kMaxBoxes, sizes, colours, labels. A UsageError names `shown` and the box.
    static void CheckBoxes(const std::string &shown, const std::vector<Detection> &boxes);

    // The boxes of a picture: by its path as given, by its path below the folder it was found
    // in, else by its name. Marks the rows as used.
    const std::vector<Detection> *Find(const std::string &path, const std::string &relative,
                                       const std::string &name);

    // Rows of files that no picture of the batch matched.
    std::size_t UnusedRows() const;
    std::size_t Rows() const { return m_rows; }

  private:
    class Reader;

    struct Entry {
        std::vector<Detection> boxes;
        std::size_t rows = 0;  // rows read for the file, those under the score included
        bool used = false;
    };
    std::map<std::string, Entry, std::less<>> m_byFile;  // the wanted files the file names
    std::size_t m_rows = 0;
    std::size_t m_otherRows = 0;  // rows of files not wanted
};

}  // namespace zav::job
