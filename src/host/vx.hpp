// Host array library: the array header, owning handles and the array operations the library calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "host/tzboost.hpp"

#pragma GCC visibility push(default)

enum vxClassID : std::int32_t {
    vxUNKNOWN_CLASS = 0,
    vxCELL_CLASS = 1,
    vxSTRUCT_CLASS = 2,
    vxLOGICAL_CLASS = 3,
    vxCHAR_CLASS = 4,
    vxVOID_CLASS = 5,
    vxDOUBLE_CLASS = 6,
    vxSINGLE_CLASS = 7,
    vxINT8_CLASS = 8,
    vxUINT8_CLASS = 9,
    vxINT16_CLASS = 10,
    vxUINT16_CLASS = 11,
    vxINT32_CLASS = 12,
    vxUINT32_CLASS = 13,
    vxINT64_CLASS = 14,
    vxUINT64_CLASS = 15,
    vxFUNCTION_CLASS = 16,
};

enum vxComplexity : std::int32_t { vxREAL = 0, vxCOMPLEX = 1 };

// Bits of the header's flags word.
namespace vx_flags {
constexpr std::uint32_t sparse = 0x10;
constexpr std::uint32_t numeric = 0x80;
constexpr std::uint32_t opaqueDims = 0x100;
constexpr std::uint32_t reusableTemp = 0x200;
constexpr std::uint32_t complex = 0x800;
constexpr std::uint32_t inlineDims = 0x80000;
}  // namespace vx_flags

// The header of a host array. A stored class id above vxFUNCTION_CLASS is resolved by
// `_get_class_id_non_trivial`; with `opaqueDims` set the dimensions are valid only after
// `_complete_opaque_dimensions`; with `inlineDims` set the array has two dimensions, stored in
// `inlineDims`, otherwise `dimList` holds them.
struct vxArray_tag {
    vxClassID classId;
    std::uint32_t flags;
    union {
        std::size_t inlineDims[2];
        struct {
            std::size_t count;
            std::size_t* lengths;
        } dimList;
    };
    void* data;
    std::uint32_t extraOwners;
    void* hostPrivate;

    vxClassID _get_class_id_non_trivial() const;
    void _complete_opaque_dimensions() const;
};

void intrusive_ptr_add_ref(vxArray_tag* array);
void intrusive_ptr_release(vxArray_tag* array);

namespace matrix {

void destroyArray(vxArray_tag* array) noexcept;

namespace detail {

// Releasing a handle drops one extra owner, or destroys the array when there is none.
struct vxDestroy_deleter {
    void operator()(vxArray_tag* array) const noexcept;
};

}  // namespace detail

using ArrayHandle = std::unique_ptr<vxArray_tag, detail::vxDestroy_deleter>;

}  // namespace matrix

namespace foundation::core::except {
class IUserException;
}

namespace matrix {
namespace detail {

[[noreturn]] void error_maxlhs();
[[noreturn]] void error_maxrhs();
[[noreturn]] void error_minrhs();

// A new handle sharing the array's element data.
ArrayHandle do_shared_copy(const vxArray_tag* array);
// A new full array whose elements are not initialised.
ArrayHandle do_create_uninitnumeric(std::size_t ndims, const std::size_t* dims, vxClassID classId,
                                    vxComplexity complexity);
// Told of every library error just before it is thrown.
void do_legacy_vx_error(const foundation::core::except::IUserException& error);

namespace noninlined::vx_array_api {
bool vxIsEmpty(const vxArray_tag* array);
// Drops the imaginary part of a complex array whose imaginary parts all equal zero.
void vxFreeImagIfZero(vxArray_tag* array);
}  // namespace noninlined::vx_array_api

}  // namespace detail

// The array in class `classId`: itself when it already is, otherwise a converted copy.
tzboost::intrusive_ptr<vxArray_tag> convert_if_needed(const vxArray_tag* array, vxClassID classId);
// The array in full storage: itself when it already is, otherwise a full copy.
tzboost::intrusive_ptr<vxArray_tag> convert_to_full_if_needed(const vxArray_tag* array);
// The array in sparse storage, for classes the host stores sparsely.
ArrayHandle convert_to_sparse_if_needed(ArrayHandle array);

}  // namespace matrix

#pragma GCC visibility pop
