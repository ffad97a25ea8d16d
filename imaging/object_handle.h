// What the C interface's opaque object is, and how each C entry calls into it.
#pragma once

#include <cstdint>

#include "imaging/image_component.h"
#include "zavimage/zavimage.h"

struct ZAVImageObject {
    zav::ImageComponent component;
};

namespace zav {

// Runs an operation on the object's component. A null object or an escaping exception gives the
// operation's usual result: no exception leaves the C interface.
template <typename Op>
int32_t CallComponent(ZAVImageObject *obj, int32_t usual, Op &&op) noexcept {
    if (obj == nullptr) {
        return usual;
    }
    try {
        return op(obj->component);
    } catch (...) {
        return usual;
    }
}

}  // namespace zav
