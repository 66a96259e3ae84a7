// The stand-in array library's private part of a header, shared by its own sources.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "host/string_matrix.hpp"
#include "host/vx.hpp"

namespace standin::detail {

struct HostPrivate {
    vxClassID classId = vxUNKNOWN_CLASS;
    vxComplexity complexity = vxREAL;
    std::vector<std::size_t> dims;  // the header's list points here for three or more
    std::shared_ptr<void> buffer;   // element data, shared by shared copies
    // Sparse storage: compressed columns over `buffer`.
    std::shared_ptr<const std::vector<std::size_t>> colStarts;
    std::shared_ptr<const std::vector<std::size_t>> rowIndices;
    std::shared_ptr<const Tessaly::String::StringArray> strings;
    bool foreign = false;  // element data borrowed from the caller
};

inline HostPrivate& privateOf(const vxArray_tag* array) {
    return *static_cast<HostPrivate*>(array->hostPrivate);
}

// A new header from its private part; flags are derived from class, complexity and sparsity.
ArrayHandle makeHeader(std::unique_ptr<HostPrivate> priv, bool sparse);

}  // namespace standin::detail
