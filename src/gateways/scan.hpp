// Cumulative sums, products, minima and maxima over strided arrays, for programs with no host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#define TZCUMFUN_SCAN_API __attribute__((visibility("default")))

namespace tzcumfun {

enum class ScanOp : std::uint8_t { cumsum = 0, cumprod = 1, cummin = 2, cummax = 3 };

// The element types, as the host's classes: logical is one byte holding 0 or 1.
enum class ElementType : std::uint8_t {
    logical,
    float64,
    float32,
    int8,
    uint8,
    int16,
    uint16,
    int32,
    uint32,
    int64,
    uint64,
};

// An array in memory: `extents[k]` elements along axis k, `strides[k]` elements apart (a complex
// element, its real part followed by its imaginary part, counts as one). `data` is aligned to the
// element type (to one part of a complex element). Any strides are taken, negative ones too;
// dense ones, in any order of the axes, are scanned where they lie, others are copied once.
template <class Data>
struct BasicView {
    Data* data = nullptr;
    ElementType type = ElementType::float64;
    bool complex = false;  // float64 and float32 only
    std::span<const std::size_t> extents;
    std::span<const std::ptrdiff_t> strides;
};
using View = BasicView<void>;
using ConstView = BasicView<const void>;

enum class NaNRule : std::uint8_t {
    byDefault,  // include for cumsum and cumprod, omit for cummin and cummax
    include,
    omit,
};

struct ScanOptions {
    // The axis scanned; by default the first whose extent is not 1. An axis past the last is a
    // singleton: every vector has one element.
    std::optional<std::size_t> axis;
    bool reverse = false;
    NaNRule nan = NaNRule::byDefault;
};

// A refusal. `identifier()` is the one the host's gateways raise for the same data
// ("Korvex:cumsum:complexIntegers"), or "Korvex:<function>:wrongOutput" and
// "Korvex:<function>:wrongView" for an output or a view that cannot take the call.
class TZCUMFUN_SCAN_API ScanError : public std::invalid_argument {
  public:
    ScanError(std::string identifier, const std::string& message);
    ~ScanError() override;
    const std::string& identifier() const noexcept { return identifier_; }

  private:
    std::string identifier_;
};

// The element type of the result: float64 for sums and products of logical data, else the
// input's.
TZCUMFUN_SCAN_API ElementType resultType(ScanOp op, ElementType input) noexcept;

// Scans `in` into `out`, which has the same extents and the result's element type and
// complexity. `out` may be `in` itself (the same elements and type: the scan then runs in place);
// an `out` whose memory span meets `in`'s otherwise is refused. Every output element has the bits
// the host's gateway gives for the same data, and a refusal leaves `out` as it was.
TZCUMFUN_SCAN_API void scan(ScanOp op, const ConstView& in, const View& out,
                            const ScanOptions& options = {});

// The same, in place.
TZCUMFUN_SCAN_API void scanInPlace(ScanOp op, const View& data, const ScanOptions& options = {});

}  // namespace tzcumfun
