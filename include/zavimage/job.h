/*
 * ZAVImage jobs: the typical work on one picture or many (load, flip, resize, caption, mark, copy a
 * region in, save) described once, checked whole before any work, planned (every output name
 * worked out, clashes refused), worked file by file on any number of threads, and summed up.
 *
 * A job is described by a JSON document (UTF-8), version 1:
 *
 *   {"version": 1,
 *    "inputs": ["cam1/", "extra.bmp"],  files, folders (their pictures, by name), "-" for
 *                                        standard input, or {"name": "a.jpg", "memory": true}
 *                                        for bytes given with ZAVJobSetInputBytes
 *    "recursive": false,                 walk the subfolders of folders
 *    "out_dir": "marked",                the folder outputs go to (or "output": one file, "-"
 *                                        for standard output)
 *    "format": "jpg",                    the extension written (default: the input's)
 *    "quality": 2,                       JPEG quality 0 to 10 (the standard tables divided by
 *                                        it), or "jpeg_quality": 1 to 95 or 100
 *    "color": false,                     save gray pictures in colour
 *    "no_clobber": false, "in_place": false,
 *    "flip": false,
 *    "resize": "1280x720",               "WxH", "Wx", "xH", "P%" or [W, H]
 *    "captions": [{"text": "cam 1", "at": "10,40", "anchor": "top-left", "size": 24,
 *                  "text_color": "white", "opacity": 1, "outline": "2,black",
 *                  "background": "black,50%", "font": "DejaVu Sans", "space": 0,
 *                  "classic": false}],
 *    "boxes": ["200,120,64,48", [10, 10, 40, 30]], "box_color": "red",
 *    "copy": {"source": "cam2.jpg", "from": "0,0,1920,1080", "to": "1400,20,480,270"}}
 *
 * Every value may be given as JSON or as the text the command-line tool takes. Unknown fields are
 * refused. Errors name the field and the value ("resize: '640x0' is not a size ...").
 *
 * Nothing is thrown and nothing is printed. A job may be worked on by several threads at once,
 * each with its own component object and its own items; every other call needs the job to itself.
 *
 * Valid C11 and C++.
 */
#ifndef ZAVIMAGE_JOB_H
#define ZAVIMAGE_JOB_H

#include <stddef.h>
#include <stdint.h>

#include "zavimage/zavimage.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The version of the job document this library reads. */
#define ZAV_JOB_VERSION 1

/* The largest job document taken, in bytes (without its final NUL): a longer one is refused. */
#define ZAV_JOB_MAX_BYTES (16u << 20)

/* Results of the job calls. */
#define ZAV_JOB_OK 0
#define ZAV_JOB_REFUSED \
    2 /* the description or the plan was refused (ZAVJobMessage): nothing done */
#define ZAV_JOB_BAD_CALL 3  /* no job, an item out of range, a job not planned or refused */
#define ZAV_JOB_NO_MEMORY 4 /* memory ran out */
#define ZAV_JOB_FAILED 5    /* an output folder could not be made; a step failed (no font) */
#define ZAV_JOB_MISSES 6    /* ZAVJobApplySteps: a step misses the picture */

/* Why a job was refused (ZAVJobRefusal). */
#define ZAV_REFUSED_NONE 0
#define ZAV_REFUSED_VALUE 1     /* a field: unknown, missing, or a value out of range */
#define ZAV_REFUSED_CLASH 2     /* two inputs would write one output */
#define ZAV_REFUSED_OVERWRITE 3 /* an output is one of the inputs (in_place allows it) */
#define ZAV_REFUSED_NO_FORMAT 4 /* an output's name picks no format */
#define ZAV_REFUSED_STREAMS 5   /* standard input or output used in a way it cannot be */

/* What happened to one item (one input and its output). */
#define ZAV_ITEM_PENDING 0 /* to be worked on */
#define ZAV_ITEM_WRITTEN 1 /* the output was written */
#define ZAV_ITEM_FAILED 2  /* reason says why; nothing was written */
#define ZAV_ITEM_SKIPPED                                                                     \
    3                        /* no_clobber: the output exists (found by the plan, or made by \
                                another writer before the save, which creates exclusively) */
#define ZAV_ITEM_DISCARDED 4 /* a stop came before the save began: nothing was written */

typedef struct ZAVJob ZAVJob;

/* One item of a planned job. The strings belong to the job: valid until the item is worked on or
 * recorded again, or the job is destroyed. */
typedef struct ZAVJobItem {
    int32_t state;        /* ZAV_ITEM_* */
    int32_t status;       /* a failure's ZAV_FILE_* code, or -1 when it is not a file's; else 0 */
    int32_t aboutOutput;  /* the failure concerns the output, not the input */
    int32_t planned;      /* 1: the plan decided this item (an input that cannot be worked on, an
                             output that exists): it is not to be worked on */
    const char *input;    /* as given; "-" is standard input */
    const char *output;   /* "-" is standard output; "" for an input refused by the plan */
    const char *reason;   /* "file not found", ...; "" unless failed */
    const char *message;  /* "NAME: reason" with the name concerned, escaped for printing */
    const uint8_t *bytes; /* output "-" once written: the picture's file, size bytes */
    size_t size;
    size_t source; /* the input it comes from: its place in "inputs" */
} ZAVJobItem;

/* Counts of a job's items for the summary. */
typedef struct ZAVJobCounts {
    size_t written;
    size_t failed;     /* in planning and in the work */
    size_t skipped;    /* outputs that exist (no_clobber) */
    size_t notDone;    /* items to be worked on that were not, or were discarded */
    size_t subfolders; /* passed over in the folders (not recursive) */
    size_t otherFiles; /* files in the folders that are not pictures by their names */
} ZAVJobCounts;

/* Reads and checks a job document (NUL-terminated UTF-8 JSON, at most ZAV_JOB_MAX_BYTES, nested at
 * most 64 deep). Returns a job, or NULL when memory ran out. ZAVJobStatus tells whether the
 * description was accepted. */
ZAV_API ZAVJob *ZAVJobCreate(const char *json);
/* Reads a job that ZAVJobExport wrote in another process (a worker's copy of a planned job): the
 * description is checked as ZAVJobCreate checks it, and the plan against it as strictly as
 * ZAVJobPlan plans: every item's input one of the description's (or a picture of a folder given,
 * below it), every output the name the description gives it, no two outputs alike, nothing replaced
 * that the description does not allow. A plan that fails a check is refused (ZAVJobStatus). The
 * document may be as large as a block of the library (ZAV_MAX_BLOCK_BYTES), since it lists every
 * item of its batch. Returns
 * a job, or NULL when memory ran out. ZAVJobCreate refuses a document that carries a plan. */
ZAV_API ZAVJob *ZAVJobImport(const char *json);
/* Destroys a job; NULL is ignored. */
ZAV_API void ZAVJobDestroy(ZAVJob *job);
/* ZAV_JOB_OK, or ZAV_JOB_REFUSED when the description or the plan was refused. */
ZAV_API int32_t ZAVJobStatus(const ZAVJob *job);
/* Why the job was refused: one or more lines, no final line feed; "" when it was not. Messages
 * name the fields of the document ("text_color: ..."); ZAVJobOptionMessage gives the same text
 * with the fields named as the command line's options ("--text-color: ..."). */
ZAV_API const char *ZAVJobMessage(const ZAVJob *job);
ZAV_API const char *ZAVJobOptionMessage(ZAVJob *job);
/* What kind of refusal it was: ZAV_REFUSED_*. */
ZAV_API int32_t ZAVJobRefusal(const ZAVJob *job);

/* Works out every output before any work: folders expanded (sorted by name), one output per
 * input, and refuses (ZAV_JOB_REFUSED) two inputs that would write one output, an output that is
 * an input (same device and inode) unless in_place, and an output whose name picks no format.
 * Inputs that cannot be worked on and outputs that exist under no_clobber become planned items.
 * Once planned, a job is not planned again. */
ZAV_API int32_t ZAVJobPlan(ZAVJob *job);
/* Whether a planned job reads standard input ("-"), whose bytes the caller then gives once with
 * ZAVJobSetStandardInput (the job keeps a copy). */
ZAV_API int32_t ZAVJobNeedsStandardInput(const ZAVJob *job);
ZAV_API int32_t ZAVJobSetStandardInput(ZAVJob *job, const void *bytes, size_t size);
/* The bytes of input number `input` (its place in "inputs"), given as {"memory": true}. The bytes
 * are not copied: they must stay valid while the job works on that input. */
ZAV_API int32_t ZAVJobSetInputBytes(ZAVJob *job, size_t input, const void *bytes, size_t size);
/* Makes the output folders of a planned job (out_dir and its subfolders; each subfolder made and
 * opened from the one above it, never through a symbolic link, as every save of the job does), and
 * removes the hidden staging copies that a killed run left beside the outputs planned (written or
 * skipped; not in a job of ZAVJobImport, whose workers save beside each other). ZAV_JOB_FAILED with
 * ZAVJobMessage telling which folder could not be made or opened. */
ZAV_API int32_t ZAVJobMakeFolders(ZAVJob *job);

/* The items of a planned job, in the order of the inputs: first those the plan decided, then
 * those to work on. */
ZAV_API size_t ZAVJobItemCount(const ZAVJob *job);
ZAV_API int32_t ZAVJobGetItem(const ZAVJob *job, size_t index, ZAVJobItem *item);

/* Works on one item with `obj` (one object per thread): reads the header, checks that the steps fit
 * the picture, loads it, applies the steps, keeps it gray where the output format has gray (unless
 * "color"), sets the object's save quality and saves it. When *stop (read atomically; NULL for
 * none) is nonzero at the start or before the save begins, the item is discarded; a save once
 * begun runs to its end. The item's state tells how it went. Returns ZAV_JOB_OK, or
 * ZAV_JOB_BAD_CALL. */
ZAV_API int32_t ZAVJobRunItem(ZAVJob *job, ZAVImageObject *obj, size_t index, const int32_t *stop);
/* Records how an item went when it was worked on elsewhere (another process with the exported
 * job): state, status, aboutOutput and reason as that process's ZAVJobGetItem gave them. */
ZAV_API int32_t ZAVJobRecordItem(ZAVJob *job, size_t index, int32_t state, int32_t status,
                                 int32_t aboutOutput, const char *reason);
/* The planned job as a JSON document that ZAVJobImport takes back already planned (for workers in
 * other processes, which then work on items by the same numbers); free with ZAVFreeMemory. NULL
 * when the job is not planned or memory ran out. */
ZAV_API char *ZAVJobExport(const ZAVJob *job);

/* The counts, and the summary as the command-line tool prints it: "COMMAND: N succeeded, N failed"
 * (", N skipped (output exists)"; with stoppedBy, e.g. "SIGINT", "stopped by SIGINT: " and ", N not
 * done"), the folders' passed-over entries, the failures counted by reason and one line per
 * failure. Lines end with a line feed. The text belongs to the job until the next call. */
ZAV_API int32_t ZAVJobGetCounts(const ZAVJob *job, ZAVJobCounts *counts);
ZAV_API const char *ZAVJobSummary(ZAVJob *job, const char *command, const char *stoppedBy);

/* Applies the steps of a job (flip, resize, captions, boxes; not copy) to an 8-bit picture of 1, 3
 * or 4 channels in memory, as ZAVJobRunItem does between load and save: a step that misses the
 * picture refuses the whole call (ZAV_JOB_MISSES) before anything is drawn. A resize replaces
 * *image by a new buffer (the old one is released through obj). Returns ZAV_JOB_OK,
 * ZAV_JOB_MISSES, ZAV_JOB_FAILED (a caption could not be drawn whole: no font, no memory), with
 * the reason in message (capacity bytes, NUL-terminated, cut when longer), or ZAV_JOB_BAD_CALL
 * (a refused job, a copy step, a buffer of another depth or channel count). */
ZAV_API int32_t ZAVJobApplySteps(const ZAVJob *job, ZAVImageObject *obj, ZAVImageStruct *image,
                                 char *message, size_t capacity);

/* Measures caption number `caption` of a job as ZAVJobApplySteps would draw it on a picture of
 * width x height (anchors included), without drawing: a ZAV_TEXT_* code, metrics filled for
 * ZAV_TEXT_OK and ZAV_TEXT_INCOMPLETE. The classic caption has no measure (ZAV_TEXT_REFUSED). */
ZAV_API int32_t ZAVJobMeasureCaption(const ZAVJob *job, ZAVImageObject *obj, size_t caption,
                                     int32_t width, int32_t height, ZAVTextMetrics *metrics);

/* The save quality a job's "quality" or "jpeg_quality" gives (2 when it has neither): ZAV_JOB_OK,
 * or ZAV_JOB_BAD_CALL for a refused job. */
ZAV_API int32_t ZAVJobQuality(const ZAVJob *job, float *quality);

/* The 0xRRGGBB value of a colour as captions take it: a name (black, white, red, green, blue,
 * yellow, cyan, magenta, gray, orange) or "#RRGGBB". ZAV_JOB_OK, or ZAV_JOB_REFUSED (rgb
 * untouched). */
ZAV_API int32_t ZAVJobColor(const char *text, uint32_t *rgb);

/* Why the object's last load or probe (writing 0) or save (writing 1) of the file at `path` failed,
 * made precise where the file system tells more than the status: "folder not found", "file not
 * found", "is a folder", "empty file", else ZAVFileStatusText of the object's status. Static text.
 */
ZAV_API const char *ZAVFileFailureText(ZAVImageObject *obj, const char *path, int32_t writing);

/* A name as messages show it: control characters, C1 controls, DEL, the bidirectional controls
 * (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069), the line and paragraph separators
 * (U+2028, U+2029) and bytes that are not UTF-8 escaped (\n, \t, \r, \\, \xNN for each byte).
 * Writes at most capacity bytes with the NUL; returns the length of the whole escaped text (as
 * snprintf does). */
ZAV_API size_t ZAVPrintableName(const char *name, char *out, size_t capacity);

/* A progress bar's line for a terminal of `columns` columns: "[#####.....] 120/300, 2 failed NAME",
 * at most columns - 1 wide (the cursor never wraps), the bar left out when the terminal is narrow,
 * NAME (escaped) cut from its front to what is left. Written as ZAVPrintableName writes. */
ZAV_API size_t ZAVJobProgressLine(size_t done, size_t total, size_t failed, const char *current,
                                  size_t columns, char *out, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* ZAVIMAGE_JOB_H */
