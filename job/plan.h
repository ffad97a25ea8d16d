// Working out every output before any work: folders expanded, one output name per input, and the
// refusals that keep a run from losing a file (two inputs writing one output, an output that is
// an input, an output without a format).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job/description.h"
#include "job/detections.h"
#include "zavimage/job.h"

namespace zav::job {

// One input and its output, and how its work went.
struct Item {
    std::string input;       // "-": standard input
    std::string output;      // "-": standard output; empty for an input refused by the plan
    std::string below;       // the output's folder below out_dir ("" for out_dir itself)
    std::size_t source = 0;  // its place among the inputs given
    bool memory = false;     // its bytes are given by the caller
    bool planned = false;    // decided by the plan, not to be worked on
    int32_t state = ZAV_ITEM_PENDING;
    int32_t status = 0;
    bool aboutOutput = false;
    std::string reason;
    std::string message;
    std::vector<uint8_t> bytes;         // output "-": the picture's file
    std::size_t index = 0;              // its place among the batch's pictures, from 1
    std::size_t count = 0;              // the batch's pictures
    std::vector<Detection> detections;  // the detector's boxes for it
};

struct Plan {
    std::vector<Item> items;           // the plan's failures and skips, then the work
    std::size_t subfolders = 0;        // subfolders passed over (not recursive)
    std::size_t otherFiles = 0;        // files in the folders that are not pictures by name
    std::vector<std::string> folders;  // output folders below out_dir to make ("": out_dir)
    std::size_t unusedDetections = 0;  // rows of the detections file for no picture of the batch
};

// What the caller's standard streams are, for the checks of "-".
struct Streams {
    bool inputIsTerminal = false;
    bool outputIsTerminal = false;
};

// Expands and checks. Throws UsageError (nothing done) when two inputs would write one output,
// when an output is one of the inputs (same device and inode) without in_place, when an output's
// name picks no format, and for misuse of standard input or output.
Plan MakePlan(const Description &description, const Streams &streams);

// Checks a plan that another process made and exported, as strictly as MakePlan: every item's
// input one of the description's (or a picture of a folder given, below it), every output the
// name the description gives that input, no two outputs alike, nothing replaced that the
// description does not allow, planned reasons escaped. Fills in the items' folders, their
// messages and the plan's folders. Throws UsageError.
void CheckExportedPlan(const Description &description, Plan &plan);

// Whether a name's extension is one of a picture taken from a folder.
bool IsPictureName(const std::string &name);

// "NAME: reason" for an item, with the name the reason concerns.
std::string ItemMessage(const Item &item);

}  // namespace zav::job
