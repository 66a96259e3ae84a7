// Host math core: reading a dimension argument and finding the first non-singleton dimension.
#pragma once

#include <cstddef>

#include "host/vx.hpp"

#pragma GCC visibility push(default)

// The zero-based dimension index a dimension argument names; throws the host's error when the
// argument is not a positive whole number.
std::size_t mathcoreGetDimArg(const vxArray_tag* arg);

// The zero-based index of the first length other than 1 (0 when all are 1).
std::size_t mathcoreFindFirstNonSingleton(std::size_t ndims, const std::size_t* dims);

#pragma GCC visibility pop
