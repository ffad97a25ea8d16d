#include "job/work.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "job/exif.h"
#include "job/file_reasons.h"
#include "job/output_folder.h"
#include "job/printable.h"

namespace zav::job {
namespace {

// A picture of the library, released when it goes out of scope.
class Picture {
  public:
    explicit Picture(ZAVImageObject *obj) : m_obj(obj) {}
    Picture(const Picture &) = delete;
    Picture &operator=(const Picture &) = delete;
    ~Picture() {
        ZAVImageStruct *p = &record;
        if (record.data != nullptr) {
            ZAVReleaseImage(m_obj, &p);
        }
    }
    ZAVImageStruct record{};

  private:
    ZAVImageObject *m_obj;
};

bool Stopped(const int32_t *stop) {
    return stop != nullptr && __atomic_load_n(stop, __ATOMIC_RELAXED) != 0;
}

void Fail(Item &item, std::string reason, int32_t status = -1, bool aboutOutput = false) {
    item.state = ZAV_ITEM_FAILED;
    item.status = status;
    item.aboutOutput = aboutOutput;
    item.reason = std::move(reason);
    item.message = ItemMessage(item);
}

// Where a picture comes from: a path, or bytes in memory.
struct Origin {
    std::string path;
    bool inMemory = false;
    std::span<const uint8_t> bytes;
};

// Probes a picture; on failure the reason and status.
std::optional<std::pair<std::string, int32_t>> Probe(ZAVImageObject *obj, const Origin &origin,
                                                     Size &size, int32_t &channels) {
    const char *format = nullptr;
    const int32_t result = origin.inMemory
                               ? ZAVProbeImageMemory(obj, origin.bytes.data(), origin.bytes.size(),
                                                     &format, &size.width, &size.height, &channels)
                               : ZAVProbeImagePath(obj, origin.path.c_str(), &format, &size.width,
                                                   &size.height, &channels);
    if (result == 0) {
        return std::nullopt;
    }
    const int32_t status = ZAVGetFileStatus(obj);
    return std::make_pair(origin.inMemory ? std::string(ZAVFileStatusText(status))
                                          : std::string(ReadFailure(obj, origin.path.c_str())),
                          status);
}

// Loads a picture, at 1/denominator where its format decodes so (see DecodeDenominator).
std::optional<std::pair<std::string, int32_t>> Load(ZAVImageObject *obj, const Origin &origin,
                                                    ZAVImageStruct &record,
                                                    int32_t denominator = 1) {
    const int32_t result =
        origin.inMemory ? ZAVLoadImageMemoryScaled(obj, origin.bytes.data(), origin.bytes.size(),
                                                   denominator, &record)
                        : ZAVLoadImagePathScaled(obj, origin.path.c_str(), denominator, &record);
    if (result == 0) {
        return std::nullopt;
    }
    const int32_t status = ZAVGetFileStatus(obj);
    return std::make_pair(origin.inMemory ? std::string(ZAVFileStatusText(status))
                                          : std::string(ReadFailure(obj, origin.path.c_str())),
                          status);
}

// The copy step's picture, probed against its region and loaded. A failure names it.
std::optional<std::pair<std::string, int32_t>> LoadCopySource(ZAVImageObject *obj,
                                                              const CopyStep &copy,
                                                              const MemoryInputs &memory,
                                                              Picture &source, bool &gray) {
    const bool fromInput = IsStandardStream(copy.source);
    if (fromInput && memory.standardInput.empty()) {
        return std::make_pair(std::string("empty (nothing was piped in)"), -1);
    }
    const Origin origin{copy.source, fromInput,
                        fromInput ? memory.standardInput : std::span<const uint8_t>()};
    Size size;
    int32_t channels = 3;
    if (auto failure = Probe(obj, origin, size, channels)) {
        return failure;
    }
    if (copy.from) {
        if (auto miss = RegionMisses(*copy.from, size, "the region")) {
            return std::make_pair(*miss, -1);
        }
    }
    if (auto failure = Load(obj, origin, source.record)) {
        return failure;
    }
    gray = channels == 1;
    return std::nullopt;
}

// Saves into the output's folder: one given with -o as named, one under out_dir in `folder`
// (opened level by level from out_dir, never through a link). 1 when nothing was saved.
int32_t SaveOutput(ZAVImageObject *obj, const Description &d, const Item &item,
                   const std::optional<OpenFolder> &folder, const ZAVImageStruct &r) {
    const uint32_t flags = d.noClobber ? ZAV_SAVE_NO_REPLACE : 0u;
    if (!folder) {
        return ZAVSaveImagePathFlags(obj, item.output.c_str(), r.data, r.width, r.height, r.depth,
                                     r.channels, flags);
    }
    const std::string name = std::filesystem::path(item.output).filename().string();
    return ZAVSaveImageAt(obj, folder->Fd(), name.c_str(), r.data, r.width, r.height, r.depth,
                          r.channels, flags);
}

}  // namespace

bool ToGray(ZAVImageObject *obj, ZAVImageStruct &image) {
    if (image.channels != 3 || image.depth != ZAV_DEPTH_8U) {
        return image.channels == 1;
    }
    ZAVImageStruct gray{};
    ZAVCreateImage(obj, image.width, image.height, ZAV_DEPTH_8U, 1, &gray);
    if (gray.data == nullptr) {
        return false;
    }
    const std::size_t srcStride = (static_cast<std::size_t>(image.width) * 3 + 3) & ~std::size_t{3};
    const std::size_t dstStride = (static_cast<std::size_t>(image.width) + 3) & ~std::size_t{3};
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *src = image.data + srcStride * static_cast<std::size_t>(y);
        uint8_t *dst = gray.data + dstStride * static_cast<std::size_t>(y);
        for (int32_t x = 0; x < image.width; ++x, src += 3) {
            // blue, green, red weights summing to 256
            dst[x] =
                static_cast<uint8_t>((29u * src[0] + 150u * src[1] + 77u * src[2] + 128u) >> 8);
        }
        for (std::size_t pad = static_cast<std::size_t>(image.width); pad < dstStride; ++pad) {
            dst[pad] = 0;
        }
    }
    ZAVImageStruct *old = &image;
    ZAVReleaseImage(obj, &old);
    image = gray;
    return true;
}

void WorkOnItem(ZAVImageObject *obj, const Description &d, Item &item, const MemoryInputs &memory,
                const int32_t *stop) {
    item.state = ZAV_ITEM_PENDING;
    item.status = 0;
    item.aboutOutput = false;
    item.reason.clear();
    item.message.clear();
    std::vector<uint8_t>().swap(item.bytes);
    if (Stopped(stop)) {
        item.state = ZAV_ITEM_DISCARDED;
        return;
    }
    const bool inMemory = item.memory || IsStandardStream(item.input);
    if (inMemory && (!memory.itemGiven || memory.item.empty())) {
        Fail(item, memory.itemGiven || IsStandardStream(item.input)
                       ? "empty (nothing was piped in)"
                       : "no bytes were given for this input");
        return;
    }
    const Origin origin{item.input, inMemory, memory.item};
    Size source;
    int32_t channels = 3;
    if (auto failure = Probe(obj, origin, source, channels)) {
        Fail(item, failure->first, failure->second);
        return;
    }
    // What the picture brings to the steps: its facts, its detections, its orientation.
    Frame frame;
    frame.facts.path = item.input;
    frame.facts.index = item.index;
    frame.facts.count = item.count;
    frame.facts.width = source.width;
    frame.facts.height = source.height;
    frame.detections = &item.detections;
    const auto uses = [&](TemplatePart::Kind kind) {
        return std::any_of(d.steps.captions.begin(), d.steps.captions.end(),
                           [&](const Caption &c) { return c.fields.Uses(kind); });
    };
    if (uses(TemplatePart::Kind::kMtime) && !inMemory) {
        struct stat st {};
        if (::stat(item.input.c_str(), &st) == 0) {
            frame.facts.mtime = st.st_mtime;
        }
    }
    if (uses(TemplatePart::Kind::kExif) || d.steps.autoOrient) {
        ExifTags tags = inMemory ? ReadExifBytes(memory.item) : ReadExifFile(item.input);
        frame.facts.exif = std::move(tags.text);
        if (tags.orientation && !tags.fromTiff) {  // the TIFF reader turns its pictures itself
            frame.orientation = *tags.orientation;
        }
    }
    FrameSizes sizes;
    if (auto miss = StepsMiss(d.steps, source, frame.orientation, sizes)) {
        Fail(item, *miss);
        return;
    }
    Picture copySource(obj);
    bool copyGray = true;
    if (d.steps.copy) {
        if (auto failure = LoadCopySource(obj, *d.steps.copy, memory, copySource, copyGray)) {
            item.state = ZAV_ITEM_FAILED;
            item.status = failure->second;
            item.reason = failure->first;
            item.message = ShownName(d.steps.copy->source, false) + ": " + item.reason;
            return;
        }
    }
    Picture image(obj);
    if (auto failure = Load(obj, origin, image.record, DecodeDenominator(d.steps, sizes))) {
        Fail(item, failure->first, failure->second);
        return;
    }
    if (auto error = ApplySteps(obj, image.record, d.steps, sizes, frame,
                                d.steps.copy ? &copySource.record : nullptr)) {
        Fail(item, *error);
        return;
    }
    const bool toOutput = IsStandardStream(item.output);
    const std::string ext = toOutput ? d.format : NameExtension(item.output);
    if (channels == 1 && copyGray && !d.color && KeepsGray(ext) && !ToGray(obj, image.record)) {
        Fail(item, "out of memory", ZAV_FILE_NO_MEMORY);
        return;
    }
    if (Stopped(stop)) {
        item.state = ZAV_ITEM_DISCARDED;
        return;
    }
    ZAVSetImageQuality(obj, d.quality);
    const ZAVImageStruct &r = image.record;
    if (toOutput) {
        uint8_t *bytes = nullptr;
        std::size_t size = 0;
        if (ZAVSaveImageMemory(obj, d.format.c_str(), r.data, r.width, r.height, r.depth,
                               r.channels, &bytes, &size) != 0) {
            const int32_t status = ZAVGetFileStatus(obj);
            Fail(item, ZAVFileStatusText(status), status, true);
            return;
        }
        try {
            item.bytes.assign(bytes, bytes + size);
        } catch (...) {
            ZAVFreeMemory(bytes);
            throw;
        }
        ZAVFreeMemory(bytes);
        item.state = ZAV_ITEM_WRITTEN;
        return;
    }
    std::optional<OpenFolder> folder;
    if (!d.outDir.empty()) {
        std::string failure;
        folder = OpenOutputFolder(d.outDir, item.below, false, failure);
        if (!folder) {
            Fail(item, "folder " + failure, -1, true);
            return;
        }
    }
    if (SaveOutput(obj, d, item, folder, r) != 0) {
        const int32_t status = ZAVGetFileStatus(obj);
        if (d.noClobber && status == ZAV_FILE_EXISTS) {
            // Another writer made the output after the plan looked: kept, as the plan would have.
            item.state = ZAV_ITEM_SKIPPED;
            return;
        }
        Fail(item, WriteFailure(obj, item.output.c_str()), status, true);
        return;
    }
    item.state = ZAV_ITEM_WRITTEN;
}

}  // namespace zav::job
