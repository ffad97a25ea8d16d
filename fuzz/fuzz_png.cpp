// Fuzzes the PNG reader.
#include "fuzz/fuzz_reader_harness.h"
#include "imaging/files/format_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return zav::FuzzReader(zav::PngFormat(), data, size);
}
