// Boxes a detector found, per file: a CSV file (file,x,y,w,h[,label[,color[,score]]], a header
// line optional) or JSON Lines ({"file": ..., "boxes": [{"x": .., "y": .., "w": .., "h": ..,
// "label": .., "color": .., "score": ..}]}), in the source picture's coordinates.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
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
    // Reads a file; a row that does not parse is a UsageError naming `field`, the file, its line
    // and the value. Rows under `minScore` are left out (rows without a score are kept).
    static Detections Read(const std::string &field, const std::string &path,
                           std::optional<double> minScore);

    // The boxes of a picture: by its path as given, by its path below the folder it was found
    // in, else by its name. Marks the rows as used.
    const std::vector<Detection> *Find(const std::string &path, const std::string &relative,
                                       const std::string &name);

    // Rows of files that no picture of the batch matched.
    std::size_t UnusedRows() const;
    std::size_t Rows() const { return m_rows; }

  private:
    struct Entry {
        std::vector<Detection> boxes;
        std::size_t rows = 0;  // rows read for the file, those under the score included
        bool used = false;
    };
    std::map<std::string, Entry, std::less<>> m_byFile;
    std::size_t m_rows = 0;
};

}  // namespace zav::job
