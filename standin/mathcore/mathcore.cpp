// Stand-in host math core: the dimension-argument reader and the first non-singleton dimension.
#include <cmath>

#include "host/mathcore.hpp"
#include "host/tzfl.hpp"
#include "standin/standin.hpp"
#include "vx/array_private.hpp"

namespace matrix::error {
struct dimensionMustBePositiveInteger;
}

namespace {

[[noreturn]] void refuseDimension() {
    throw foundation::core::except::Exception<matrix::error::dimensionMustBePositiveInteger,
                                              std::exception, void>(
        resource_core::BaseMsgID{{}, "Korvex:getdimarg", "dimensionMustBePositiveInteger"});
}

// The one element of a full or sparse array (a sparse one may store none: that is zero).
const void* onlyElement(const vxArray_tag* arg) {
    if (!standin::isSparse(arg)) return arg->data;
    static const unsigned long long kZero = 0;
    return standin::sparseOf(arg).rowIndices.empty() ? &kZero : arg->data;
}

}  // namespace

std::size_t mathcoreGetDimArg(const vxArray_tag* arg) {
    const vxClassID classId = standin::classOf(arg);
    const bool numeric = classId >= vxDOUBLE_CLASS && classId <= vxUINT64_CLASS;
    if ((!numeric && classId != vxLOGICAL_CLASS) || standin::isComplex(arg) ||
        standin::numel(arg) != 1) {
        refuseDimension();
    }
    constexpr unsigned long long kLargest = 9223372036854775807ULL;
    const void* elem = onlyElement(arg);
    unsigned long long value = 0;
    if (classId == vxDOUBLE_CLASS || classId == vxSINGLE_CLASS) {
        const double real = classId == vxDOUBLE_CLASS ? *static_cast<const double*>(elem)
                                                      : *static_cast<const float*>(elem);
        // 2^63 is the first double above the largest dimension; NaN fails every comparison.
        if (!(real >= 1.0 && real < 9223372036854775808.0) || std::floor(real) != real) {
            refuseDimension();
        }
        value = static_cast<unsigned long long>(real);
    } else if (classId == vxINT64_CLASS || classId == vxINT8_CLASS || classId == vxINT16_CLASS ||
               classId == vxINT32_CLASS) {
        long long signedValue = 0;
        switch (classId) {
            case vxINT8_CLASS:
                // int8 data is signed by definition, so the sign extension is what is meant.
                signedValue =
                    *static_cast<const signed char*>(elem);  // NOLINT(bugprone-signed-char-misuse)
                break;
            case vxINT16_CLASS:
                signedValue = *static_cast<const short*>(elem);
                break;
            case vxINT32_CLASS:
                signedValue = *static_cast<const int*>(elem);
                break;
            default:
                signedValue = *static_cast<const long long*>(elem);
                break;
        }
        if (signedValue < 1) refuseDimension();
        value = static_cast<unsigned long long>(signedValue);
    } else {
        switch (classId) {
            case vxLOGICAL_CLASS:
            case vxUINT8_CLASS:
                value = *static_cast<const unsigned char*>(elem);
                break;
            case vxUINT16_CLASS:
                value = *static_cast<const unsigned short*>(elem);
                break;
            case vxUINT32_CLASS:
                value = *static_cast<const unsigned int*>(elem);
                break;
            default:
                value = *static_cast<const unsigned long long*>(elem);
                break;
        }
        if (value < 1 || value > kLargest) refuseDimension();
    }
    return static_cast<std::size_t>(value - 1);
}

std::size_t mathcoreFindFirstNonSingleton(std::size_t ndims, const std::size_t* dims) {
    for (std::size_t dim = 0; dim < ndims; ++dim) {
        if (dims[dim] != 1) return dim;
    }
    return 0;
}
