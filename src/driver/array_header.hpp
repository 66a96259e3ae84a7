// Direct reads of a host array's header: class, flags, dimensions and element data.
#pragma once

#include <cstddef>
#include <span>

#include "host/vx.hpp"

namespace tzcumfun {

inline vxClassID classOf(const vxArray_tag* array) {
    return array->classId > vxFUNCTION_CLASS ? array->_get_class_id_non_trivial() : array->classId;
}

// Several host threads may read one input while one of them has the host complete its deferred
// dimensions, which rewrites the flags word; the acquire load pairs with the host's release.
inline bool hasFlags(const vxArray_tag* array, std::uint32_t bits) {
    return (__atomic_load_n(&array->flags, __ATOMIC_ACQUIRE) & bits) == bits;
}

// Complex needs the numeric bit too: the complex bit alone means nothing on other classes.
inline bool isComplex(const vxArray_tag* array) {
    return hasFlags(array, vx_flags::numeric | vx_flags::complex);
}

inline std::span<const std::size_t> dimensionsOf(const vxArray_tag* array) {
    if (hasFlags(array, vx_flags::opaqueDims)) array->_complete_opaque_dimensions();
    if (hasFlags(array, vx_flags::inlineDims)) return {array->inlineDims, 2};
    return {array->dimList.lengths, array->dimList.count};
}

inline bool isIntegerClass(vxClassID classId) {
    return classId >= vxINT8_CLASS && classId <= vxUINT64_CLASS;
}

}  // namespace tzcumfun
