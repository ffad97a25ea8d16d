// What the C interface's opaque object is, and the one guard every C entry calls through.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "imaging/api/image_component.h"
#include "zavimage/zavimage.h"

struct ZAVImageObject {
    zav::ImageComponent component;
};

namespace zav {

// Runs an operation on the object's component. A null object gives the operation's usual result;
// so does an exception that escapes it, after a load, save or probe (`work`) has put it in the file
// status. No exception leaves the C interface.
template <typename Op>
int32_t Guarded(ZAVImageObject *obj, int32_t usual, FileWork work, Op &&op) noexcept {
    if (obj == nullptr) {
        return usual;
    }
    try {
        return op(obj->component);
    } catch (const std::bad_alloc &) {
        obj->component.ExceptionEscaped(work, true);
    } catch (...) {
        obj->component.ExceptionEscaped(work, false);
    }
    return usual;
}

// The same for operations that touch no file.
template <typename Op>
int32_t Guarded(ZAVImageObject *obj, int32_t usual, Op &&op) noexcept {
    return Guarded(obj, usual, FileWork::kNone, std::forward<Op>(op));
}

}  // namespace zav
