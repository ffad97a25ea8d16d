// The work on one planned item: read the header, check that the steps fit the picture, load it,
// apply the steps, keep it gray where the output format has gray, save it.
#pragma once

#include <cstdint>
#include <span>

#include "job/description.h"
#include "job/plan.h"

namespace zav::job {

// The bytes of pictures held in memory: the item's own (a memory input, or standard input for
// "-") and standard input's (for a copy source "-").
struct MemoryInputs {
    std::span<const uint8_t> item;
    bool itemGiven = false;
    std::span<const uint8_t> standardInput;
    bool standardInputGiven = false;
};

// Works on `item` with `obj`, filling its state, status, reason and message (and its bytes for
// standard output). `stop`, read atomically, discards the work when nonzero at the start or
// before the save begins.
void WorkOnItem(ZAVImageObject *obj, const Description &description, Item &item,
                const MemoryInputs &memory, const int32_t *stop);

// Replaces a 3-channel picture by its gray levels (ITU-R BT.601 weights; a pixel whose three
// samples are equal keeps its value). False when the new buffer could not be allocated.
bool ToGray(ZAVImageObject *obj, ZAVImageStruct &image);

}  // namespace zav::job
