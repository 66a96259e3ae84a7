// Test-facing API of the stand-in host: building arrays in every header state, reading them back,
// counting live arrays and legacy-hook calls, and injecting allocation failures.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/vx.hpp"

#pragma GCC visibility push(default)

namespace standin {

using matrix::ArrayHandle;
using Dims = std::vector<std::size_t>;

// The host's class id of string arrays; it is stored above vxFUNCTION_CLASS in the header, so
// readers resolve it through the non-trivial class query.
constexpr vxClassID kStringClass = static_cast<vxClassID>(18);

// Bytes of one element (both parts for complex data); char units are UTF-16.
std::size_t elementBytes(vxClassID classId, vxComplexity complexity);

// A full array with zeroed elements. Trailing singleton dimensions beyond the second are dropped.
ArrayHandle makeArray(vxClassID classId, const Dims& dims, vxComplexity complexity = vxREAL);
// A full array over memory the caller owns and keeps alive; the host never frees or writes it
// unless the array is passed somewhere that writes in place.
ArrayHandle makeBorrowed(vxClassID classId, const Dims& dims, vxComplexity complexity, void* data);

// A two-dimensional compressed-column sparse array of class double or logical: `colStarts` has
// cols + 1 entries, `rowIndices` and `values` one per stored element (complex interleaved).
ArrayHandle makeSparse(vxClassID classId, vxComplexity complexity, std::size_t rows,
                       std::size_t cols, const std::vector<std::size_t>& colStarts,
                       const std::vector<std::size_t>& rowIndices, const void* values);
// A char array; without dims, a 1-by-n row.
ArrayHandle makeChar(std::u16string_view text, const Dims& dims = {});
// A string array; nullopt is a missing element. Without dims, a 1-by-n row.
ArrayHandle makeString(const std::vector<std::optional<std::u16string>>& values,
                       const Dims& dims = {});

// Header states the library must handle.
void markReusableTemporary(vxArray_tag* array);
void storeClassIdIndirectly(vxArray_tag* array);
void deferDimensions(vxArray_tag* array);

// Reading arrays back.
vxClassID classOf(const vxArray_tag* array);
bool isComplex(const vxArray_tag* array);
bool isSparse(const vxArray_tag* array);
Dims dimsOf(const vxArray_tag* array);
std::size_t numel(const vxArray_tag* array);
struct SparseParts {
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::vector<std::size_t> colStarts;
    std::vector<std::size_t> rowIndices;
    const void* values = nullptr;
};
SparseParts sparseOf(const vxArray_tag* array);
// True when both arrays' element data is one buffer.
bool sharesData(const vxArray_tag* first, const vxArray_tag* second);
// True when no other array holds this array's element data and the host allocated it.
bool ownsDataAlone(const vxArray_tag* array);

// Arrays created and not yet destroyed, in this process.
long liveArrays();
// Calls of the legacy error hook, and the identifier of the last error it saw.
long legacyHookCalls();
std::string lastLegacyIdentifier();

// Turns the host's cache of freed large element buffers on or off (off also empties it); at start
// it is on unless TZCUMFUN_HOST_CACHE=0. hostCacheBytes() is what it holds now.
void setHostCache(bool enabled);
std::size_t hostCacheBytes();

// From now, the n-th host allocation or conversion on the calling thread throws std::bad_alloc
// (0 disarms). Other threads' calls and arrays built through this API are never counted.
void failAfter(long n);
// The calling thread's steps still to go before its armed failure; 0 once it fired or disarmed.
long faultCountdown();

}  // namespace standin

#pragma GCC visibility pop
