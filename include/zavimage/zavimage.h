/*
 * ZAVImage: image operations on raw pixel buffers owned by the host.
 *
 * Every operation is called on a component object, returns an int32_t result with a fixed meaning
 * (0 is success; 1 is success too for ZAVDrawRect and ZAVCloneImage, and means "not loaded" or
 * "not saved" for ZAVLoadImage and ZAVSaveImage) and never reports failure in any other way.
 *
 * Buffers: rows top to bottom, channels interleaved in blue, green, red (, alpha) order, each row
 * padded to a multiple of 4 bytes: stride = ((bits * width * max(channels, 1) + 7) / 8 + 3) & ~3,
 * where bits = depth & 0x7FFFFFFF. A buffer holds stride * height bytes.
 *
 * Valid C11 and C++.
 */
#ifndef ZAVIMAGE_ZAVIMAGE_H
#define ZAVIMAGE_ZAVIMAGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
/* char16_t is a keyword in C++ */
#else
#include <uchar.h>
#endif

#if defined(__GNUC__)
#define ZAV_API __attribute__((visibility("default")))
#else
#define ZAV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define ZAVIMAGE_VERSION_MAJOR 1
#define ZAVIMAGE_VERSION_MINOR 0
#define ZAVIMAGE_VERSION_PATCH 0

/* The version of the library in use, "MAJOR.MINOR.PATCH" ("1.0.0"): a static string, never NULL.
 * A program may run with a later library of the same major version (the soname's) than the one
 * whose ZAVIMAGE_VERSION_* it was compiled with. */
ZAV_API const char *ZAVVersion(void);

/* Depth codes: bits of one channel value, bit 31 set for signed integer types. */
#define ZAV_DEPTH_SIGN ((int32_t)INT32_MIN)
#define ZAV_DEPTH_1U ((int32_t)1)
#define ZAV_DEPTH_8U ((int32_t)8)
#define ZAV_DEPTH_8S ((int32_t)(INT32_MIN | 8))
#define ZAV_DEPTH_16U ((int32_t)16)
#define ZAV_DEPTH_16S ((int32_t)(INT32_MIN | 16))
#define ZAV_DEPTH_32S ((int32_t)(INT32_MIN | 32))
#define ZAV_DEPTH_32F ((int32_t)32)
#define ZAV_DEPTH_64F ((int32_t)64)

/* The largest pixel block the component hands out, in bytes (2^30). */
#define ZAV_MAX_BLOCK_BYTES ((int64_t)1 << 30)

/* The image record. data points at the first byte of the top row. */
typedef struct ZAVImageStruct {
    int32_t width;
    int32_t height;
    int32_t depth;
    int32_t channels;
    uint8_t *data;
} ZAVImageStruct;

/* A rectangle: origin and extent in pixels. */
typedef struct ZAVImageRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
} ZAVImageRect;

/* The component object. Each object keeps its own save quality; objects on different threads work
 * independently. One object must not be used by two threads at the same time. */
typedef struct ZAVImageObject ZAVImageObject;

/* A new object with save quality 2.0, or NULL when memory is exhausted. */
ZAV_API ZAVImageObject *ZAVCreateObject(void);
/* Destroys an object; NULL is ignored. Buffers handed out by it stay valid. */
ZAV_API void ZAVDestroyObject(ZAVImageObject *obj);

/* Stores fQuality bit for bit as the quality of the next saves. Returns 0. */
ZAV_API int32_t ZAVSetImageQuality(ZAVImageObject *obj, float fQuality);

/* Allocates an uncleared buffer of the given geometry and fills imageStruct. Returns 0.
 * channels 0 comes back as 1. Invalid geometry (negative size or channels, unknown depth) gives a
 * record of zeros with a block of no usable bytes; a block above 2^30 bytes gives the requested
 * geometry with data NULL. Every block handed out must be given back to ZAVReleaseImage. */
ZAV_API int32_t ZAVCreateImage(ZAVImageObject *obj, int32_t width, int32_t height, int32_t depth,
                               int32_t channels, ZAVImageStruct *imageStruct);

/* Frees the block at (*ppImage)->data and sets data to NULL (the pointer and the geometry stay), so
 * that a second release of the record frees nothing. Returns 0 (also for NULL arguments and a NULL
 * data). Returns 1 and frees nothing when data is not a live block handed out by load, create or
 * clone: a block released already (through a copy of the record), a block of ZAVSaveImageMemory
 * or ZAVJobExport (ZAVFreeMemory's), memory of the caller's own. Blocks are told by their address:
 * one released and then handed out anew at the same address is the new block. */
ZAV_API int32_t ZAVReleaseImage(ZAVImageObject *obj, ZAVImageStruct **ppImage);

/* Copies the source buffer, row padding included, into a new block and fills pdestImage with the
 * source's geometry. A NULL source data gives a NULL destination data. Returns 1. */
ZAV_API int32_t ZAVCloneImage(ZAVImageObject *obj, const ZAVImageStruct *psourceImage,
                              ZAVImageStruct *pdestImage);

/* ---- Loading and saving image files ---- */

/* ZAVSaveImagePathFlags for `name`, one name without a slash, in the folder open as `folder` (a
 * descriptor from open() with O_DIRECTORY or O_PATH): nothing above the name is looked up by path,
 * so a folder renamed or replaced by a link meanwhile cannot redirect the file. A name with a slash
 * is refused (ZAV_FILE_NAME_REFUSED + '/'). */
ZAV_API int32_t ZAVSaveImageAt(ZAVImageObject *obj, int folder, const char *name,
                               const uint8_t *imageData, int32_t width, int32_t height,
                               int32_t depth, int32_t channels, uint32_t flags);
/* Removes the hidden ".NAME.zav<16 hex digits>.tmp" that a save of `name` killed while replacing it
 * left in the folder open as `folder` (a regular file only; nothing when there is none). */
ZAV_API void ZAVRemoveStagingAt(int folder, const char *name);

/* Why the object's last load or save ended as it did. A name refused for a character gives
 * ZAV_FILE_NAME_REFUSED plus the character's byte value (ZAV_FILE_NAME_REFUSED + '?'). */
#define ZAV_FILE_OK 0
#define ZAV_FILE_NO_NAME 1        /* the name is NULL or empty */
#define ZAV_FILE_NAME_TOO_LONG 2  /* the name is longer than 259 bytes */
#define ZAV_FILE_NOT_FOUND 3      /* no such file or folder */
#define ZAV_FILE_NO_ACCESS 4      /* permission denied (an existing file is never replaced then) */
#define ZAV_FILE_READ_FAILED 5    /* not a regular file, or an I/O error while reading */
#define ZAV_FILE_UNKNOWN_FORMAT 6 /* the first bytes match none of the six formats */
/* the name's extension belongs to none of the six formats */
#define ZAV_FILE_UNKNOWN_EXTENSION 7
#define ZAV_FILE_UNSUPPORTED 8   /* a variant of the format that is not decoded */
#define ZAV_FILE_CORRUPT 9       /* malformed data */
#define ZAV_FILE_TRUNCATED 10    /* the data end before the picture is complete */
#define ZAV_FILE_TOO_LARGE 11    /* the picture's 8-bit, 3-channel buffer would exceed 2^30 bytes */
#define ZAV_FILE_NO_MEMORY 12    /* memory exhausted */
#define ZAV_FILE_WRITE_FAILED 13 /* the file could not be written completely */
#define ZAV_FILE_BAD_BUFFER 14   /* save: not 8-bit, not 1 or 3 channels, size < 1 or no data */
#define ZAV_FILE_NO_RECORD 15    /* load: no record to fill */
/* What the system reported: no space left on the device (ENOSPC), the disk quota exhausted
 * (EDQUOT), a name too long for the file system (a part over 255 bytes or the whole path:
 * ENAMETOOLONG; the 259-byte rule of the names is ZAV_FILE_NAME_TOO_LONG). */
#define ZAV_FILE_DISK_FULL 16
#define ZAV_FILE_QUOTA_EXCEEDED 17
#define ZAV_FILE_PATH_TOO_LONG 18
#define ZAV_FILE_IS_LINK                                                                        \
    19                     /* save: the name is a symbolic link, which is never written through \
                            */
#define ZAV_FILE_EXISTS 20 /* save with ZAV_SAVE_NO_REPLACE: a file of that name exists */
/* the process's file size limit (ulimit -f, EFBIG) stopped the write */
#define ZAV_FILE_SIZE_LIMIT 21
/* the file holds more metadata than the reader keeps (PNG: text and other ancillary chunks) */
#define ZAV_FILE_METADATA_LIMIT 22
/* corrupt data: the pixels start inside the colour table (BMP) */
#define ZAV_FILE_BAD_PIXEL_OFFSET 23
#define ZAV_FILE_NAME_REFUSED 0x100 /* plus the refused character: * ? " < > ; | */

/* Loads an image file (BMP, JPEG, Sun raster, PBM/PGM/PPM, TIFF, PNG; chosen by the first bytes,
 * never by the name) into a new 8-bit, 3-channel blue-green-red buffer and fills imageStruct.
 * imageFileName is a NUL-terminated UTF-16 name; it is refused when it contains * ? " < > ; |
 * (an unpaired surrogate counts as ?) or is longer than 259 bytes as UTF-8; backslashes are taken
 * as slashes. Returns 0 when the record was filled, 1 when nothing was loaded: the record is then
 * untouched and nothing is allocated. The buffer must be given back to ZAVReleaseImage. */
ZAV_API int32_t ZAVLoadImage(ZAVImageObject *obj, const char16_t *imageFileName,
                             ZAVImageStruct *imageStruct);
/* The same with a UTF-8 name. */
ZAV_API int32_t ZAVLoadImageUtf8(ZAVImageObject *obj, const char *imageFileName,
                                 ZAVImageStruct *imageStruct);

/* Saves an 8-bit buffer of 1 (gray) or 3 (blue, green, red) channels, laid out as every buffer is,
 * in the format that the name's extension selects (bmp dib, jpeg jpg jpe, sr ras, pbm pgm ppm,
 * tiff tif, png; the extension is the run of letters and digits after the name's last dot), with
 * the object's save quality (used by JPEG only). Same name rules as ZAVLoadImage. The file appears
 * complete or not at all: an earlier file of that name stays as it was when the save fails, an
 * existing file the caller may not write is not replaced, and a name that is a symbolic link is
 * refused (ZAV_FILE_IS_LINK): nothing is written through a link, so nothing lands outside the
 * named folder. A save killed at any instant leaves no name but the final one, except, for an
 * existing file being replaced, a hidden ".NAME.zav<16 hex digits>.tmp" beside it, which the next
 * save of NAME removes. Returns 0 when the file was written, 1 when it was not. */
ZAV_API int32_t ZAVSaveImage(ZAVImageObject *obj, const char16_t *imageFileName,
                             const uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                             int32_t channels);
/* The same with a UTF-8 name. */
ZAV_API int32_t ZAVSaveImageUtf8(ZAVImageObject *obj, const char *imageFileName,
                                 const uint8_t *imageData, int32_t width, int32_t height,
                                 int32_t depth, int32_t channels);

/* For hosts that checked and mapped the name themselves (the COM shell): the path is opened as
   given, without the name rules. */
ZAV_API int32_t ZAVLoadImagePath(ZAVImageObject *obj, const char *path,
                                 ZAVImageStruct *imageStruct);
ZAV_API int32_t ZAVSaveImagePath(ZAVImageObject *obj, const char *path, const uint8_t *imageData,
                                 int32_t width, int32_t height, int32_t depth, int32_t channels);

/* Flags of ZAVSaveImagePathFlags. */
#define ZAV_SAVE_NO_REPLACE 1u /* create the file exclusively: an existing name is kept */

/* ZAVSaveImagePath with flags: with ZAV_SAVE_NO_REPLACE the file is created only when its name
 * does not exist at the moment it is put in place, against any other writer; when it exists the
 * result is 1 with the status ZAV_FILE_EXISTS and the existing file is untouched. */
ZAV_API int32_t ZAVSaveImagePathFlags(ZAVImageObject *obj, const char *path,
                                      const uint8_t *imageData, int32_t width, int32_t height,
                                      int32_t depth, int32_t channels, uint32_t flags);

/* ZAVSaveImagePathFlags for `name`, one name without a slash, in the folder open as `folder` (a
 * descriptor from open() with O_DIRECTORY or O_PATH): nothing above the name is looked up by path,
 * so a folder renamed or replaced by a link meanwhile cannot redirect the file. A name with a slash
 * is refused (ZAV_FILE_NAME_REFUSED + '/'). */
ZAV_API int32_t ZAVSaveImageAt(ZAVImageObject *obj, int folder, const char *name,
                               const uint8_t *imageData, int32_t width, int32_t height,
                               int32_t depth, int32_t channels, uint32_t flags);
/* Removes the hidden ".NAME.zav<16 hex digits>.tmp" that a save of `name` killed while replacing it
 * left in the folder open as `folder` (a regular file only; nothing when there is none). */
ZAV_API void ZAVRemoveStagingAt(int folder, const char *name);

/* Why the object's last load or save ended as it did (ZAV_FILE_* codes) and a short English text.
 */
ZAV_API int32_t ZAVGetFileStatus(ZAVImageObject *obj);
/* A static text for a status; never NULL. */
ZAV_API const char *ZAVFileStatusText(int32_t status);

/* Pixel operations. Records are only read; pixels change in place. */

/* Turns the buffer upside down in place: rows exchange their pixel bytes, the row padding stays.
 * Handles 8-bit unsigned and signed, 16-bit signed, 32-bit signed, 32-bit and 64-bit float buffers
 * of 1 to 4 channels; others are left alone. Returns 0. */
ZAV_API int32_t ZAVFlipImage(ZAVImageObject *obj, uint8_t *imageData, int32_t width, int32_t height,
                             int32_t depth, int32_t channels);

/* Scales the source buffer into the destination buffer (nearest neighbour: destination column x
 * takes source column (2 * x * SW + DW - 1) / (2 * DW), lowered by one past SW - 1; rows the same).
 * Equal sizes copy. Buffers of different depth or channel count are left alone. The destination
 * record is only read. Overlapping buffers behave as if the source were read first. Returns 0. */
ZAV_API int32_t ZAVReSizeImage(ZAVImageObject *obj, const ZAVImageStruct *imageStruct,
                               const ZAVImageStruct *videoImageStruct);

/* Copies the rectangle (sx, sy, swidth, sheight) of an 8-bit 3-channel source into the rectangle
 * (dx, dy, dwidth, dheight) of an 8-bit 3-channel destination, scaled by the rule of
 * ZAVReSizeImage when the sizes differ. Each rectangle is first kept inside its image: a negative
 * origin moves to 0 and the extent stays; an extent passing the right or bottom edge ends at the
 * edge. An empty rectangle after that, or a buffer of another format, copies nothing. Returns 0. */
ZAV_API int32_t ZAVCopyImage(ZAVImageObject *obj, const ZAVImageStruct *psourceImage, int32_t sx,
                             int32_t sy, int32_t swidth, int32_t sheight,
                             const ZAVImageStruct *pdestImage, int32_t dx, int32_t dy,
                             int32_t dwidth, int32_t dheight);

/* Outlines (line thickness 3) the region grown by a fifth of its width left and right and a third
 * of its height above and below, cut at the image edges. color: 0 and 1 red (packed 0xFF0000),
 * 2 green, 3 blue, 4 yellow, 5 white, 6 black, others red. 8-bit images of 2 to 4 channels take
 * byte k of the packed number in channel k; other images take the number, saturated, in every
 * channel. Returns 1. */
ZAV_API int32_t ZAVDrawRect(ZAVImageObject *obj, const ZAVImageStruct *pImage,
                            ZAVImageRect thisImageRect, int32_t color);
/* Captions. Draws the zero-terminated pText with the left column of its first glyph on column x and
 * the bottom row of every glyph's bitmap on row y, at a pixel size of fSize truncated; after each
 * glyph the pen moves right by its bitmap width (0.1 * fSize for a blank) plus fCharSpace * fSize,
 * both taken as absolute values, truncated. color 1 is (0, 255, 0, 0), 2 is (0, 0, 255, 0), every
 * other value (255, 0, 0, 0), channel 0 first: blue, green, red in a BGR buffer. transparency has
 * no effect: ink pixels take the colour. Bytes of 0x80 and above are decoded in the user's default
 * encoding (LC_CTYPE of the environment; plain ASCII counts as UTF-8); a sequence that is not a
 * character takes two bytes and draws the font's missing-glyph shape. The process locale is not
 * changed. The font is the object's font file (ZAVSetFontPath), else "c:\windows\fonts\SIMHEI.TTF",
 * else fontconfig's match for SimHei (zh-cn). Returns 1 when no font can be opened, else 0 (also
 * when nothing is drawn: start point outside the buffer, fSize below 1, null or empty text). */
ZAV_API int32_t ZAVPutTextToImage(ZAVImageObject *obj, const ZAVImageStruct *pImage,
                                  const uint8_t *pText, int32_t x, int32_t y, int32_t color,
                                  float fSize, float fCharSpace, float transparency);
/* The same, with the text always taken as UTF-8 whatever the locale (the COM shell converts the
 * host's ANSI text to UTF-8 and calls this). */
ZAV_API int32_t ZAVPutTextToImageUtf8(ZAVImageObject *obj, const ZAVImageStruct *pImage,
                                      const char *pText, int32_t x, int32_t y, int32_t color,
                                      float fSize, float fCharSpace, float transparency);
/* The first font file the object's text calls try, in place of "c:\windows\fonts\SIMHEI.TTF"
 * (face 0); NULL restores that literal path. Returns 0. */
ZAV_API int32_t ZAVSetFontPath(ZAVImageObject *obj, const char *path);

/* ---- Typographic captions ----
 * Text laid out as typesetting does: glyphs on a common baseline from the font's metrics, the pen
 * moved by the font's advances with kerning, shaping by HarfBuzz (ligatures, Arabic, Devanagari,
 * Thai), right-to-left runs ordered by the Unicode bidirectional algorithm (FriBidi), characters
 * the font lacks drawn from the best installed font that has them (fontconfig), lines split at line
 * feeds. 8-bit buffers of 1 (gray: the colour's luma), 3 (blue, green, red) or 4 channels (blue,
 * green, red, alpha: alpha is composited as "over"). Invalid UTF-8 draws U+FFFD. Glyphs are cached
 * per process; objects on different threads draw in parallel. */

#define ZAV_ANCHOR_LEFT 0     /* hAnchor: x is the block's left edge */
#define ZAV_ANCHOR_CENTER 1   /* hAnchor: x is the block's centre (lines centred) */
#define ZAV_ANCHOR_RIGHT 2    /* hAnchor: x is the block's right edge (lines right-aligned) */
#define ZAV_ANCHOR_TOP 0      /* vAnchor: y is the block's top row (the first line's ascent) */
#define ZAV_ANCHOR_BASELINE 1 /* vAnchor: y is the first line's baseline */
#define ZAV_ANCHOR_BOTTOM 2   /* vAnchor: y is the row below the block (the last line's descent) */

#define ZAV_TEXT_MONO 1u /* flags: one bit per pixel (FreeType's monochrome rendering) */

#define ZAV_TEXT_OK 0
/* no font could be opened, memory ran out, or the font file was cut short on disk while in use:
 * text is missing */
#define ZAV_TEXT_INCOMPLETE 1
/* a NULL argument, a style of unknown size or out-of-range values, a buffer not 8-bit of 1, 3 or 4
 * channels: nothing touched */
#define ZAV_TEXT_REFUSED 2
/* the call passes one of the caption's limits, checked before any work: nothing touched. The limits
 * (ZAV_TEXT_MAX_*): characters (code points, line feeds included) and lines per call, the pixel
 * size and the outline's width, and the coverage the glyphs would need: distinct glyphs x (pixel
 * size + 2 x outline + 2)^2 bytes x 2 with an outline, x the buffer's channels when drawing */
#define ZAV_TEXT_TOO_LARGE 3
#define ZAV_TEXT_MAX_CHARACTERS 4096
#define ZAV_TEXT_MAX_LINES 256
#define ZAV_TEXT_MAX_PIXEL_SIZE 1024
#define ZAV_TEXT_MAX_OUTLINE 64
#define ZAV_TEXT_MAX_COVERAGE_BYTES ((int64_t)64 << 20)

typedef struct ZAVTextStyle {
    uint32_t structSize; /* sizeof(ZAVTextStyle), as ZAVInitTextStyle sets it */
    const char *font;    /* NULL: the object's caption font (as ZAVPutTextToImage finds it); a name
                            containing '/' or naming a file: that file; else a fontconfig pattern
                            such as "DejaVu Sans:bold" or "Noto Sans:lang=ar" */
    int32_t faceIndex;   /* the face in a font file named by path */
    float pixelSize;     /* em size in pixels, 1 to 1024 (above: ZAV_TEXT_TOO_LARGE) */
    uint32_t color;      /* 0xRRGGBB */
    float opacity;       /* 0 to 1 */
    float letterSpacing; /* pixels added after each character (may be negative) */
    float lineSpacing;   /* baseline distance as a multiple of the font's line height, 0 to 100 */
    int32_t hAnchor;     /* ZAV_ANCHOR_LEFT, _CENTER or _RIGHT */
    int32_t vAnchor;     /* ZAV_ANCHOR_TOP, _BASELINE or _BOTTOM */
    uint32_t flags;      /* ZAV_TEXT_MONO */
    float outlineWidth; /* pixels around each glyph, 0 to 64 (above: ZAV_TEXT_TOO_LARGE); 0: none */
    uint32_t outlineColor;
    float outlineOpacity;
    uint32_t backgroundColor;
    float backgroundOpacity;   /* 0: no background box */
    int32_t backgroundPadding; /* pixels around the text block, 0 to 1024 */
} ZAVTextStyle;

typedef struct ZAVTextMetrics {
    int32_t inkX, inkY, inkWidth, inkHeight; /* pixels any glyph or outline covers; 0 without ink */
    int32_t boxX, boxY, boxWidth, boxHeight; /* the block: widest advance x ascent-to-descent of the
                                                lines (the background box less its padding) */
    int32_t advanceWidth;                    /* the widest line's advance, pixels */
    int32_t baseline;                        /* row of the first line's baseline */
    int32_t lineCount;
} ZAVTextMetrics;

/* Defaults: structSize set, font NULL, 24 pixels, black, opaque, no spacing, line spacing 1,
 * anchored left on the baseline, anti-aliased, no outline (width 0, black, opaque), no background
 * (black, opacity 0, padding 4). */
ZAV_API void ZAVInitTextStyle(ZAVTextStyle *style);
/* Draws the UTF-8 text anchored at (x, y); pixels outside the buffer are never touched. Returns a
 * ZAV_TEXT_* code. */
ZAV_API int32_t ZAVDrawTextUtf8(ZAVImageObject *obj, const ZAVImageStruct *pImage, const char *text,
                                int32_t x, int32_t y, const ZAVTextStyle *style);
/* Where ZAVDrawTextUtf8 would draw, without drawing. Returns a ZAV_TEXT_* code; metrics are filled
 * for ZAV_TEXT_OK and ZAV_TEXT_INCOMPLETE. */
ZAV_API int32_t ZAVMeasureTextUtf8(ZAVImageObject *obj, const char *text, int32_t x, int32_t y,
                                   const ZAVTextStyle *style, ZAVTextMetrics *metrics);

/* Whether ZAVDrawTextUtf8 would take `text` in `style` on a buffer of `channels` channels (1, 3 or
 * 4) within the caption's limits, told from the text's bytes alone, without opening a font:
 * ZAV_TEXT_OK, ZAV_TEXT_TOO_LARGE, or ZAV_TEXT_REFUSED (a NULL argument, a style or channel count
 * refused). */
ZAV_API int32_t ZAVCheckTextLimitsUtf8(const char *text, const ZAVTextStyle *style,
                                       int32_t channels);

/* Tells what an image file holds without decoding its pixels: *format gets the format's static
 * description (for example "Windows bitmap (*.bmp;*.dib)"), *width and *height its size. Same name
 * rules as ZAVLoadImageUtf8. Returns 0, or 1 when the file is not one the library can load (the
 * reason is in ZAVGetFileStatus); the outputs are then untouched. A file whose header reads well
 * may still fail to load when its pixel data are damaged. */
ZAV_API int32_t ZAVProbeImageFileUtf8(ZAVImageObject *obj, const char *imageFileName,
                                      const char **format, int32_t *width, int32_t *height);
/* The same for a path opened as given (no name rules), telling also the channels a picture keeps
 * when saved: 1 for a gray or bilevel file, 3 for colour. The loaded buffer has 3 channels either
 * way. */
ZAV_API int32_t ZAVProbeImagePath(ZAVImageObject *obj, const char *path, const char **format,
                                  int32_t *width, int32_t *height, int32_t *channels);

/* ---- Images in memory ---- */

/* Loads an image held in memory (size bytes at bytes; NULL counts as no bytes) exactly as
 * ZAVLoadImage loads a file holding those bytes: same formats, results, statuses and limits. */
ZAV_API int32_t ZAVLoadImageMemory(ZAVImageObject *obj, const void *bytes, size_t size,
                                   ZAVImageStruct *imageStruct);
/* Encodes a buffer as ZAVSaveImage would, in the format that the extension `format` names ("jpg",
 * "bmp", "png", ...; no dot, case ignored), into a new block: on success (0) *bytes and *size hold
 * the bytes a file save writes; free the block with ZAVFreeMemory. On failure (1) *bytes is NULL
 * and *size 0 (the reason is in ZAVGetFileStatus). */
ZAV_API int32_t ZAVSaveImageMemory(ZAVImageObject *obj, const char *format,
                                   const uint8_t *imageData, int32_t width, int32_t height,
                                   int32_t depth, int32_t channels, uint8_t **bytes, size_t *size);
/* Frees a block from ZAVSaveImageMemory or ZAVJobExport. NULL, a block freed already, a pixel block
 * (ZAVReleaseImage's) and any other address are left alone. */
ZAV_API void ZAVFreeMemory(void *block);
/* As ZAVProbeImagePath, for an image held in memory: its format, its size and the channels it
 * keeps when saved (1 for gray or bilevel, 3 for colour). */
ZAV_API int32_t ZAVProbeImageMemory(ZAVImageObject *obj, const void *bytes, size_t size,
                                    const char **format, int32_t *width, int32_t *height,
                                    int32_t *channels);

/* ---- Filtered scaling and orientation ---- */

/* Filters of ZAVResizeImageFiltered. */
#define ZAV_FILTER_NEAREST 0 /* ZAVReSizeImage's exact nearest-neighbour rule */
#define ZAV_FILTER_AREA 1    /* the average of the source pixels each covers: for shrinking */
#define ZAV_FILTER_LINEAR 2  /* bilinear */
#define ZAV_FILTER_CUBIC 3   /* bicubic */
#define ZAV_FILTER_LANCZOS 4 /* Lanczos over 8 x 8 pixels */

/* Scales the source picture into the destination (both 8-bit, with the same 1, 3 or 4 channels)
 * with a filter; ZAV_FILTER_NEAREST is ZAVReSizeImage itself. Writes only the destination's pixel
 * bytes. Returns 0; records outside that are left untouched. */
ZAV_API int32_t ZAVResizeImageFiltered(ZAVImageObject *obj, const ZAVImageStruct *source,
                                       const ZAVImageStruct *dest, int32_t filter);
/* Turns a picture upright by the orientation its camera recorded (EXIF's 1 to 8: 2 mirrored, 3
 * turned by a half, 6 a quarter clockwise, ...): *image then holds a new block of the library
 * (transposed for 5 to 8) and the old one is released. Returns 0 (1 changes nothing), or 1 when
 * nothing was done (no memory, a record the operations cannot work on, another orientation). */
ZAV_API int32_t ZAVOrientImage(ZAVImageObject *obj, ZAVImageStruct *image, int32_t orientation);
/* Loads as ZAVLoadImagePath and ZAVLoadImageMemory do, but a JPEG at 1/denominator of each side
 * (2, 4 or 8; sides rounded up), decoded from the same coefficients by reduced transforms: for a
 * caller that scales the picture down by that much or more anyway (the job's filtered resize).
 * The pixels differ slightly from a full decode scaled down. Other formats, and a denominator
 * other than 2, 4 or 8, load at full size; the record tells the size loaded. */
ZAV_API int32_t ZAVLoadImagePathScaled(ZAVImageObject *obj, const char *path, int32_t denominator,
                                       ZAVImageStruct *imageStruct);
ZAV_API int32_t ZAVLoadImageMemoryScaled(ZAVImageObject *obj, const void *bytes, size_t size,
                                         int32_t denominator, ZAVImageStruct *imageStruct);

/* ---- The formats ---- */

/* One file format as the format table has it. The strings are static. */
typedef struct ZAVFormatInfo {
    const char *name;           /* "BMP", "JPEG", "Sun raster", "PBM/PGM/PPM", "TIFF", "PNG" */
    const char *description;    /* as a probe names the format: "JPEG files (*.jpeg;*.jpg;*.jpe)" */
    const char *extensions;     /* the extensions its writer is chosen by: "jpeg jpg jpe" */
    const char *grayExtensions; /* of those, the ones whose names let a gray picture stay gray:
                                   jobs save gray input gray under them ("pbm pgm" for the
                                   portable family, whose .ppm promises colour); the writers
                                   themselves write whatever channels they are given */
    int32_t reads;              /* 1: files of this format are read (told by their first bytes) */
    int32_t writes;             /* 1: names with its extensions are written */
} ZAVFormatInfo;

/* How many formats the table has, in the order in which a file's first bytes are tried. */
ZAV_API int32_t ZAVFormatCount(void);
/* Fills *info for format `index` (0 to ZAVFormatCount() - 1): returns 0, or 1 (info untouched) for
 * an index out of range or a NULL info. */
ZAV_API int32_t ZAVGetFormat(int32_t index, ZAVFormatInfo *info);
/* The short name of what a file starting with these bytes holds ("JPEG", "PGM" for a P2 or P5
 * graymap, ...): the format that reads it, told apart within its family where the first bytes
 * tell. NULL when no format reads it. */
ZAV_API const char *ZAVFormatNameOfBytes(const void *head, size_t size);
/* The index of the format whose writer an extension ("jpg", ".JPG"; a whole name is not taken)
 * chooses, or -1. */
ZAV_API int32_t ZAVFindWriterFormat(const char *extension);

#ifdef __cplusplus
}
#endif

#endif /* ZAVIMAGE_ZAVIMAGE_H */
