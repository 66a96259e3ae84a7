// The strided-view entry points: views checked and laid out, then one plan run as the host's call
// would run it.
#include "gateways/scan.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include "driver/classes.hpp"
#include "driver/plan.hpp"

namespace tzcumfun {
namespace {

static_assert(static_cast<std::size_t>(ElementType::uint64) + 1 == kElementClasses.size(),
              "ElementType lists the element classes in the table's order");

vxClassID classOfType(ElementType type) {
    return kElementClasses[static_cast<std::size_t>(type)];
}

std::string functionName(ScanOp op) {
    return std::string(operationOf(static_cast<CumOp>(op)).name);
}

[[noreturn]] void refuse(ScanOp op, const char* reason, const std::string& message) {
    throw ScanError("Korvex:" + functionName(op) + ":" + reason, functionName(op) + ": " + message);
}

// How a view's elements lie: the axes from the one whose elements are adjacent outwards, and
// whether they fill their span without gaps, so that the host's column-major scan can run on
// them with its dimensions in that order.
struct Layout {
    std::vector<std::size_t> order;
    bool dense = false;
};

template <class Data>
bool denseInOrder(const BasicView<Data>& view, std::span<const std::size_t> order) {
    std::ptrdiff_t expected = 1;
    for (const std::size_t axis : order) {
        if (view.extents[axis] == 1) continue;  // its stride is never used
        if (view.strides[axis] != expected) return false;
        expected *= static_cast<std::ptrdiff_t>(view.extents[axis]);
    }
    return true;
}

// Column-major first, then row-major, then any order of the axes by their strides.
template <class Data>
Layout layoutOf(const BasicView<Data>& view) {
    Layout layout;
    layout.order.resize(view.extents.size());
    std::iota(layout.order.begin(), layout.order.end(), std::size_t{0});
    if (denseInOrder(view, layout.order)) return layout.dense = true, layout;
    std::reverse(layout.order.begin(), layout.order.end());
    if (denseInOrder(view, layout.order)) return layout.dense = true, layout;
    std::stable_sort(layout.order.begin(), layout.order.end(), [&](std::size_t a, std::size_t b) {
        return view.strides[a] < view.strides[b];
    });
    layout.dense = denseInOrder(view, layout.order);
    return layout;
}

// Whether `out` names exactly `in`'s elements, of the same type: the one overlap a scan can run in.
template <class Data>
bool sameElements(const ConstView& in, const BasicView<Data>& out) {
    if (in.data != out.data || in.type != out.type) return false;
    for (std::size_t axis = 0; axis < in.extents.size(); ++axis) {
        if (in.extents[axis] > 1 && in.strides[axis] != out.strides[axis]) return false;
    }
    return true;
}

// The bytes a view's elements reach, as [first, last).
template <class Data>
std::pair<const char*, const char*> spanOf(const BasicView<Data>& view, std::size_t bytes) {
    const char* first = static_cast<const char*>(view.data);
    const char* last = first;
    for (std::size_t axis = 0; axis < view.extents.size(); ++axis) {
        if (view.extents[axis] == 0) return {first, first};
        const std::ptrdiff_t reach = static_cast<std::ptrdiff_t>(view.extents[axis] - 1) *
                                     view.strides[axis] * static_cast<std::ptrdiff_t>(bytes);
        (reach < 0 ? first : last) += reach;
    }
    return {first, last + bytes};
}

// Copies every element between two arrays of the same extents and any strides, `order[0]` (the
// dense side's adjacent axis) innermost; elements move as blocks of a size known at compile time.
template <std::size_t Bytes>
void copyElementsOf(std::span<const std::size_t> extents, std::span<const std::size_t> order,
                    const char* from, std::span<const std::ptrdiff_t> fromStrides, char* to,
                    std::span<const std::ptrdiff_t> toStrides) {
    struct Element {
        char bytes[Bytes];
    };
    const std::size_t rank = extents.size();
    if (std::find(extents.begin(), extents.end(), std::size_t{0}) != extents.end()) return;
    const std::size_t inner = rank == 0 ? 1 : extents[order[0]];
    const std::ptrdiff_t fromStep = rank == 0 ? 0 : fromStrides[order[0]];
    const std::ptrdiff_t toStep = rank == 0 ? 0 : toStrides[order[0]];
    std::vector<std::size_t> index(rank, 0);
    for (;;) {
        std::ptrdiff_t fromOffset = 0;
        std::ptrdiff_t toOffset = 0;
        for (std::size_t axis = 0; axis < rank; ++axis) {
            fromOffset += static_cast<std::ptrdiff_t>(index[axis]) * fromStrides[axis];
            toOffset += static_cast<std::ptrdiff_t>(index[axis]) * toStrides[axis];
        }
        const auto* source = reinterpret_cast<const Element*>(from) + fromOffset;
        auto* target = reinterpret_cast<Element*>(to) + toOffset;
        for (std::size_t elem = 0; elem < inner; ++elem)
            std::memcpy(target + elem * toStep, source + elem * fromStep, Bytes);
        std::size_t position = 1;
        while (position < rank && ++index[order[position]] == extents[order[position]])
            index[order[position++]] = 0;
        if (position >= rank) return;
    }
}

void copyElements(std::span<const std::size_t> extents, std::span<const std::size_t> order,
                  const void* from, std::span<const std::ptrdiff_t> fromStrides, void* to,
                  std::span<const std::ptrdiff_t> toStrides, std::size_t bytes) {
    const auto copy = [&]<std::size_t Bytes>() {
        copyElementsOf<Bytes>(extents, order, static_cast<const char*>(from), fromStrides,
                              static_cast<char*>(to), toStrides);
    };
    switch (bytes) {
        case 1:
            return copy.template operator()<1>();
        case 2:
            return copy.template operator()<2>();
        case 4:
            return copy.template operator()<4>();
        case 8:
            return copy.template operator()<8>();
        default:
            return copy.template operator()<16>();
    }
}

// Strides, in elements, of a dense array whose axes lie in `order`.
std::vector<std::ptrdiff_t> denseStrides(std::span<const std::size_t> extents,
                                         std::span<const std::size_t> order) {
    std::vector<std::ptrdiff_t> strides(extents.size(), 0);
    std::ptrdiff_t next = 1;
    for (const std::size_t axis : order) {
        strides[axis] = next;
        next *= static_cast<std::ptrdiff_t>(std::max<std::size_t>(extents[axis], 1));
    }
    return strides;
}

std::size_t firstNonSingleton(std::size_t ndims, const std::size_t* dims) {
    const std::size_t* found =
        std::find_if(dims, dims + ndims, [](std::size_t n) { return n != 1; });
    return found == dims + ndims ? 0 : static_cast<std::size_t>(found - dims);
}

template <class Data>
void checkView(ScanOp op, const BasicView<Data>& view, std::size_t numel, const char* what) {
    const ElementType type = view.type;
    const bool complex = view.complex;
    if (static_cast<std::size_t>(type) >= kElementClasses.size())
        refuse(op, "wrongInput", std::string(what) + " has no element type the operation takes");
    if (complex && (type == ElementType::logical)) {
        refuse(op, "wrongInput", std::string(what) + ": logical data cannot be complex");
    }
    if (complex && type != ElementType::float64 && type != ElementType::float32) {
        refuse(op, "complexIntegers", std::string(what) + ": integer data cannot be complex");
    }
    if (view.strides.size() != view.extents.size())
        refuse(op, "wrongView", std::string(what) + " needs one stride for every extent");
    if (view.data == nullptr && numel != 0)
        refuse(op, "wrongView", std::string(what) + " has no data");
    // The kernels load whole elements (a complex one as two parts) from aligned addresses.
    const std::size_t partBytes = elementBytes(classOfType(type), false);
    if (reinterpret_cast<std::uintptr_t>(view.data) % partBytes != 0)
        refuse(op, "wrongView", std::string(what) + " is not aligned to its element type");
}

}  // namespace

ScanError::ScanError(std::string identifier, const std::string& message)
    : std::invalid_argument(message), identifier_(std::move(identifier)) {}

ScanError::~ScanError() = default;

ElementType resultType(ScanOp op, ElementType input) noexcept {
    const bool toDouble = operationOf(static_cast<CumOp>(op)).logicalBecomesDouble;
    return input == ElementType::logical && toDouble ? ElementType::float64 : input;
}

void scan(ScanOp op, const ConstView& in, const View& out, const ScanOptions& options) {
    if (static_cast<std::size_t>(op) >= kOperations.size())
        throw std::invalid_argument("tzcumfun::scan: no such operation");
    const std::size_t rank = in.extents.size();
    const std::size_t numel =
        std::accumulate(in.extents.begin(), in.extents.end(), std::size_t{1}, std::multiplies<>());
    checkView(op, in, numel, "the input");
    checkView(op, out, numel, "the output");
    if (!std::equal(in.extents.begin(), in.extents.end(), out.extents.begin(), out.extents.end()))
        refuse(op, "wrongOutput", "the output's extents are not the input's");
    if (out.type != resultType(op, in.type) || out.complex != in.complex)
        refuse(op, "wrongOutput", "the output's element type is not the result's");
    const std::size_t inBytes = elementBytes(classOfType(in.type), in.complex);
    const std::size_t outBytes = elementBytes(classOfType(out.type), out.complex);
    const bool inPlace = sameElements(in, out);
    if (!inPlace && numel != 0) {
        const auto [inFirst, inLast] = spanOf(in, inBytes);
        const auto [outFirst, outLast] = spanOf(out, outBytes);
        if (inFirst < outLast && outFirst < inLast)
            refuse(op, "wrongOutput", "the output overlaps the input without being it");
    }

    CumSettings settings = defaultSettings(static_cast<CumOp>(op));
    settings.direction = options.reverse ? 0 : 1;
    if (options.nan != NaNRule::byDefault) settings.nanFlag = options.nan == NaNRule::omit ? 1 : 0;
    const std::size_t axis = options.axis.value_or(firstNonSingleton(rank, in.extents.data()));

    // The scan runs in the output's order when it is dense, else in the input's, else in
    // column-major order; whatever does not lie in that order is copied once on the way.
    const Layout outLayout = layoutOf(out);
    const Layout inLayout = layoutOf(in);
    const std::vector<std::size_t>& order = outLayout.dense  ? outLayout.order
                                            : inLayout.dense ? inLayout.order
                                                             : outLayout.order;
    std::vector<std::size_t> dims(rank);
    std::size_t dim = rank + 1;  // past the last: vectors of one element
    for (std::size_t position = 0; position < rank; ++position) {
        dims[position] = in.extents[order[position]];
        if (order[position] == axis) dim = position + 1;
    }
    const CumPlan plan =
        planCumCall(static_cast<CumOp>(op), {dim, settings.direction, settings.nanFlag},
                    {classOfType(in.type), in.complex, false, numel == 0, dims}, firstNonSingleton);

    const std::vector<std::ptrdiff_t> strides = denseStrides(in.extents, order);
    const bool inLies = denseInOrder(in, order);
    const bool outLies = denseInOrder(out, order);
    std::unique_ptr<std::byte[]> inCopy;
    std::unique_ptr<std::byte[]> outCopy;
    const void* from = in.data;
    void* to = out.data;
    if (!inLies && numel != 0) {
        inCopy = std::make_unique_for_overwrite<std::byte[]>(numel * inBytes);
        copyElements(in.extents, order, in.data, in.strides, inCopy.get(), strides, inBytes);
        from = inCopy.get();
    }
    if (!outLies && numel != 0) {
        // In place, the input's copy takes the scan and goes back where it came from.
        if (!inPlace) outCopy = std::make_unique_for_overwrite<std::byte[]>(numel * outBytes);
        to = inPlace ? inCopy.get() : outCopy.get();
    }
    executeCumPlan(plan, from, to);
    if (to != out.data)
        copyElements(out.extents, order, to, strides, out.data, out.strides, outBytes);
}

void scanInPlace(ScanOp op, const View& data, const ScanOptions& options) {
    scan(op, ConstView{data.data, data.type, data.complex, data.extents, data.strides}, data,
         options);
}

}  // namespace tzcumfun
