// Validation of the data argument and reading of the dimension and option arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "driver/types.hpp"
#include "host/vx.hpp"

namespace tzcumfun {

// Refuses a data argument the operations cannot scan, then reads the optional dimension (second
// input only) and the option words, overwriting the defaults the caller passed in.
void parseCumArgs(CumOp op, int nrhs, const vxArray_tag** prhs, std::size_t& dim,
                  std::uint8_t& direction, std::uint8_t& nanFlag);

// Handles one option argument; the seen bytes make a second word of the same kind an error.
void parseCumOption(CumOp op, const vxArray_tag* arg, std::uint8_t& direction,
                    std::uint8_t& nanFlag, std::uint8_t& directionSeen, std::uint8_t& nanSeen);

// Reads one option word's text, as parseCumOption does once the argument is known to be text;
// callers that hold the text without a host array (the Python module) use it directly.
void applyCumOptionText(CumOp op, std::u16string_view text, std::uint8_t& direction,
                        std::uint8_t& nanFlag, std::uint8_t& directionSeen, std::uint8_t& nanSeen);

// The longest option word, in UTF-16 code units: a longer text matches none.
inline constexpr std::size_t kLongestCumOption = 14;

// The UTF-16 text of an argument that the host accepted as a text scalar, borrowed in place.
std::u16string_view readScalarText(const vxArray_tag* arg);

// True when `text` is a case-insensitive leading part of `word`, at least `minLength` long.
bool optionWordMatches(std::u16string_view text, std::u16string_view word, std::size_t minLength);

}  // namespace tzcumfun
