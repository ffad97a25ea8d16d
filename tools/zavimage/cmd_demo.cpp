// zavimage demo: the typical job on a generated sample picture, needing no input.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "tools/zavimage/cli.h"
#include "tools/zavimage/image.h"

namespace zavtool {
namespace {

// A street-camera-like scene: sky, road, a car. Rows padded to 4 bytes, blue-green-red.
void PaintScene(ZAVImageStruct &rec) {
    const int32_t stride = (rec.width * 3 + 3) & ~3;
    for (int32_t y = 0; y < rec.height; ++y) {
        uint8_t *row = rec.data + static_cast<std::ptrdiff_t>(y) * stride;
        for (int32_t x = 0; x < rec.width; ++x) {
            uint8_t b, g, r;
            if (y < rec.height / 2) {  // sky, lighter towards the horizon
                b = static_cast<uint8_t>(200 + 55 * y / (rec.height / 2));
                g = static_cast<uint8_t>(150 + 80 * y / (rec.height / 2));
                r = static_cast<uint8_t>(90 + 90 * y / (rec.height / 2));
            } else {  // road with lane marks
                const bool mark =
                    (y > rec.height * 3 / 4 - 3 && y < rec.height * 3 / 4 + 3) && (x / 40) % 2 == 0;
                b = g = r = mark ? 235 : static_cast<uint8_t>(70 + (x * 7 + y * 3) % 9);
            }
            // a car
            if (x >= 380 && x < 500 && y >= 200 && y < 250) {
                b = 40, g = 40, r = 170;
            }
            if (x >= 400 && x < 480 && y >= 175 && y < 200) {
                b = 60, g = 50, r = 150;
            }
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
        for (int32_t pad = rec.width * 3; pad < stride; ++pad) {
            row[pad] = 0;
        }
    }
}

}  // namespace

int RunDemo(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage demo [DIR]\n"
        "\n"
        "Makes a sample picture and runs the typical job on it: save quality 2, load the bitmap,\n"
        "caption it in Chinese and Latin letters with both captions (the component's own, in\n"
        "red at (10, 40) with a 24-pixel font; the typographic one, white with a black outline\n"
        "on a half-transparent box in the bottom-right corner), mark the car, save as JPEG and\n"
        "in every other format. Files go to DIR (default zavimage-demo).\n"
        "\n"
        "example:\n"
        "  zavimage demo /tmp/zav\n";
    ArgReader args(argc, argv, 1);
    std::string dir = "zavimage-demo";
    int positional = 0;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        if (args.IsOption() || positional++ > 0) {
            throw UsageError("unexpected argument " + std::string(arg));
        }
        dir = std::string(arg);
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        PrintError(dir + ": cannot create the folder: " + ec.message());
        return kExitFailed;
    }
    const std::string base = (std::filesystem::path(dir) / "").string();

    Object obj;
    int failures = 0;
    auto report = [&](const std::string &what, const std::optional<std::string> &error) {
        if (error) {
            ++failures;
            std::printf("  %-44s FAILED: %s\n", what.c_str(), error->c_str());
        } else {
            std::printf("  %s\n", what.c_str());
        }
    };

    std::printf("ZAVImage demonstration in %s\n", dir.c_str());
    {
        Image scene(obj.get());
        if (!scene.Create(640, 360, 3)) {
            PrintError("cannot allocate the sample picture");
            return kExitFailed;
        }
        PaintScene(scene.Record());
        report("made a 640 x 360 sample picture: " + base + "input.bmp",
               scene.Save(base + "input.bmp"));
    }

    ZAVSetImageQuality(obj.get(), 2.0f);
    std::printf("  set the save quality to 2 (JPEG tables half the standard ones)\n");

    Image image(obj.get());
    if (auto error = image.Load(base + "input.bmp")) {
        report("loaded input.bmp", error);
        return kExitFailed;
    }
    const ZAVImageStruct &rec = image.Record();
    std::printf("  loaded input.bmp: %d x %d, depth %d, %d channels\n", rec.width, rec.height,
                rec.depth, rec.channels);

    const char *caption = "视频监控 Camera 1 12:34:56";
    if (ZAVPutTextToImageUtf8(obj.get(), &rec, caption, 10, 40, 2, 24.0f, 0.1f, 0.0f) != 0) {
        report("captioned the picture", std::string("no font could be opened"));
    } else {
        std::printf("  captioned \"%s\" in red at (10, 40), 24 px (classic caption)\n", caption);
    }

    // The typographic caption, a timestamp in the bottom-right corner.
    const char *stamp = "2024-05-01 12:34:56 前门-东 Cam-01";
    ZAVTextStyle style;
    ZAVInitTextStyle(&style);
    style.pixelSize = 20.0f;
    style.color = 0xFFFFFF;
    style.outlineWidth = 1.5f;
    style.backgroundOpacity = 0.5f;
    style.hAnchor = ZAV_ANCHOR_RIGHT;
    style.vAnchor = ZAV_ANCHOR_BOTTOM;
    const int32_t margin = 10 + style.backgroundPadding;
    if (ZAVDrawTextUtf8(obj.get(), &rec, stamp, rec.width - margin, rec.height - margin, &style) !=
        ZAV_TEXT_OK) {
        report("stamped the picture", std::string("no font could be opened"));
    } else {
        std::printf(
            "  stamped \"%s\" in white, outlined, on a box at the bottom right "
            "(typographic caption)\n",
            stamp);
    }

    const ZAVImageRect car{380, 175, 120, 75};
    ZAVDrawRect(obj.get(), &rec, car, 1);
    std::printf("  marked the car at (%d, %d, %d x %d) with a red box\n", car.x, car.y, car.width,
                car.height);

    const char *const outputs[] = {"output.jpg", "output.png", "output.bmp",
                                   "output.ras", "output.ppm", "output.tif"};
    for (const char *name : outputs) {
        report("saved " + base + name, image.Save(base + name));
    }
    image.Reset();
    std::printf("  released the buffer\n");
    if (failures != 0) {
        std::printf("%d step(s) failed\n", failures);
        return kExitFailed;
    }
    std::printf("done: open %soutput.jpg to see the result\n", base.c_str());
    return kExitOk;
}

}  // namespace zavtool
