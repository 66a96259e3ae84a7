// libFuzzer target: its bytes decode into one whole gateway call on the stand-in host, whose
// outcome must leak nothing, keep the slot and name a known identifier when it fails, and when it
// succeeds give the class, shape and sparsity the driver promises and the scalar reference's
// values.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "host/mathcore.hpp"
#include "host/string_matrix.hpp"
#include "host_support.hpp"
#include "reference.hpp"

namespace {

using namespace testing_support;
using tzcumfun::CumOp;

void require(bool holds) {
    if (!holds) std::abort();
}

// Past the end of the input every field reads as zero.
struct Bytes {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t next() { return size > 0 ? (--size, *data++) : 0; }
};

// Bits of an argument's header byte.
constexpr std::uint8_t kComplex = 1, kSparse = 2, kOutOfLine = 4, kDeferred = 8, kTemp = 16,
                       kMissing = 32;

struct Argument {
    ArrayHandle array;
    std::vector<unsigned char> dense;  // the elements as built, before any sparse conversion
    std::u16string text;               // the units of char or string data
};

// One argument: class (logical, double ... uint64, char, string, cell), header byte, extent count
// and extents (below 128: 0-7; above: steps of five), then a byte count and that many element
// bytes, repeated to fill the array. Nothing when the array would be too large to be quick.
std::optional<Argument> decodeArgument(Bytes& in) {
    const int code = in.next() % 14;
    const auto classId = static_cast<vxClassID>(code < 11 ? vxLOGICAL_CLASS + code + (code > 0) * 2
                                                : code == 11 ? vxCHAR_CLASS
                                                : code == 12 ? standin::kStringClass
                                                             : vxCELL_CLASS);
    const std::uint8_t header = in.next();
    Dims dims(in.next() % 7);
    std::size_t count = dims.empty() ? 0 : 1;  // no extents is a 0-by-1 array to the host
    for (auto& extent : dims) {
        const std::uint8_t byte = in.next();
        count *= extent = byte < 128 ? byte % 8 : (byte - 128) * 5;
    }
    if (count > (1 << 14)) return std::nullopt;  // room for every parallel threshold
    Argument arg;
    std::vector<std::uint8_t> pattern(in.next());
    for (auto& byte : pattern)
        byte = in.next();
    const bool numeric = classId >= vxDOUBLE_CLASS && classId <= vxUINT64_CLASS;
    const vxComplexity complexity = numeric && (header & kComplex) ? vxCOMPLEX : vxREAL;
    arg.dense.resize(count * standin::elementBytes(classId, complexity));
    for (std::size_t at = 0; !pattern.empty() && at < arg.dense.size(); ++at)
        arg.dense[at] = pattern[at % pattern.size()] & (classId == vxLOGICAL_CLASS ? 1 : 0xff);
    arg.text.resize(pattern.size() / 2);
    if (!pattern.empty()) std::memcpy(arg.text.data(), pattern.data(), arg.text.size() * 2);
    if (classId == standin::kStringClass) {
        const std::optional<std::u16string> element =
            header & kMissing ? std::nullopt : std::optional(arg.text);
        arg.array = standin::makeString(std::vector(count, element), dims);
        return arg;
    }
    arg.array = standin::makeArray(classId, dims, complexity);
    if (!arg.dense.empty()) std::memcpy(arg.array->data, arg.dense.data(), arg.dense.size());
    if (classId == vxCHAR_CLASS) arg.text.assign(static_cast<char16_t*>(arg.array->data), count);
    // The host stores only two-dimensional double and logical arrays sparsely.
    if (header & kSparse) arg.array = matrix::convert_to_sparse_if_needed(std::move(arg.array));
    if (header & kOutOfLine) standin::storeClassIdIndirectly(arg.array.get());
    if (header & kDeferred) standin::deferDimensions(arg.array.get());
    if (header & kTemp) standin::markReusableTemporary(arg.array.get());
    return arg;
}

// What a successful call computed: data, result, and the settings its arguments gave.
struct Scan {
    CumOp op;
    const Argument& data;
    const vxArray_tag* result;
    std::size_t workDim;
    bool forward;
    bool omitNaN;
};

template <class In, class Out = In>
void checkValues(const Scan& scan) {
    const auto [op, data, result, workDim, forward, omitNaN] = scan;
    reference::Buffer<In> in(standin::numel(data.array.get()));
    for (std::size_t at = 0; at < in.size(); ++at)
        std::memcpy(&in[at], data.dense.data() + at * sizeof(In), sizeof(In));
    if constexpr (reference::IsComplex<In>::value) {
        // Magnitudes come from an fdlibm-style hypotenuse, right to within one ulp: where two
        // values' magnitudes lie that close, the reference cannot tell which of them wins.
        for (const In& a : in) {
            for (const In& b : in) {
                const auto ma = reference::magnitude(a);
                const auto mb = reference::magnitude(b);
                const auto ulp = std::nextafter(ma, INFINITY) - ma;
                if ((op == CumOp::Min || op == CumOp::Max) && a != b &&
                    (ma == mb || std::fabs(ma - mb) <= 4 * ulp))
                    return;
            }
        }
    }
    const auto want =
        reference::scan<In, Out>(op, in, standin::dimsOf(result), workDim, forward, omitNaN);
    if constexpr (reference::IsComplex<Out>::value) {
        // The reference's complex product is the plain one, exact only while it stays finite.
        for (const Out& z : want)
            if (op == CumOp::Prod && !(std::isfinite(z.real()) && std::isfinite(z.imag()))) return;
        if (!standin::isComplex(result))
            for (const Out& z : want)
                require(z.imag() == 0);
    }
    const auto full = matrix::convert_to_full_if_needed(result);
    require(reference::firstDifference(want, full->data, !standin::isComplex(result),
                                       op == CumOp::Sum || op == CumOp::Prod,
                                       standin::isSparse(result)) == want.size());
}

// Class, shape and sparsity of a successful call, and its values for inputs of up to 64 elements.
void checkResult(CumOp op, const std::vector<Argument>& args, const vxArray_tag* result) {
    const vxArray_tag* data = args[0].array.get();
    const vxClassID classId = standin::classOf(data);
    const bool toDouble = classId == vxLOGICAL_CLASS && (op == CumOp::Sum || op == CumOp::Prod);
    require(standin::classOf(result) == (toDouble ? vxDOUBLE_CLASS : classId) &&
            standin::dimsOf(result) == standin::dimsOf(data) &&
            standin::isSparse(result) == standin::isSparse(data) &&
            (standin::isComplex(data) || !standin::isComplex(result)));
    // An empty array's zero extent may sit beside huge ones: there is nothing to compare.
    if (standin::numel(data) == 0 || standin::numel(data) > 64) return;
    const Dims dims = standin::dimsOf(data);
    std::size_t next = 1;
    std::size_t workDim = mathcoreFindFirstNonSingleton(dims.size(), dims.data());
    if (args.size() > 1 && !Tessaly::String::isScalarText(args[1].array.get(), false, true)) {
        workDim = mathcoreGetDimArg(args[1].array.get());
        next = 2;
    }
    bool forward = true;
    bool omitNaN = op == CumOp::Min || op == CumOp::Max;
    for (; next < args.size(); ++next) {  // the call succeeded, so each option abbreviates a word
        const char16_t first = args[next].text[0] | 0x20;
        forward = first == u'r' ? false : first == u'f' ? true : forward;
        omitNaN = first == u'i' ? false : first == u'o' ? true : omitNaN;
    }
    const Scan scan{op, args[0], result, workDim, forward, omitNaN};
    const bool complex = standin::isComplex(data);
    auto checkAs = [&]<class T>(T) {
        if (hostClass<T>() != classId) return;
        if constexpr (std::is_same_v<T, bool>) {
            toDouble ? checkValues<bool, double>(scan) : checkValues<bool>(scan);
        } else if constexpr (std::is_floating_point_v<T>) {
            complex ? checkValues<std::complex<T>>(scan) : checkValues<T>(scan);
        } else {
            checkValues<T>(scan);
        }
    };
    std::apply([&](auto... type) { (checkAs(type), ...); },
               std::tuple<bool, double, float, signed char, unsigned char, short, unsigned short,
                          int, unsigned int, long long, unsigned long long>{});
}

// The host's errors carry fixed identifiers; the library's name the called function and a reason.
bool knownIdentifier(CumOp op, const std::string& identifier) {
    const std::string reason = identifier.substr(identifier.rfind(':') + 1);
    return std::string(
               " Korvex:TooManyOutputs Korvex:TooManyInputs Korvex:minrhs"
               " Korvex:getdimarg:dimensionMustBePositiveInteger"
               " Korvex:string:MissingNotSupported"
               " Korvex:string:MustBeStringScalarOrCharacterVector ")
                   .find(" " + identifier + " ") != std::string::npos ||
           (identifier == std::string("Korvex:") + nameOf(op) + ":" + reason &&
            std::string(
                " wrongInput complexIntegers wrongFlag duplicateDirection duplicateNaNFlag ")
                    .find(" " + reason + " ") != std::string::npos);
}

}  // namespace

// Layout: operation, output count (0-2), input count (0-5), fault byte (0xf0 and above fail the
// 1st to 16th host step), one argument per input, then the in-place byte.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in{data, size};
    const CumOp op = kAllOps[in.next() % 4];
    const int nlhs = in.next() % 3;
    const int nrhs = in.next() % 6;
    const std::uint8_t fault = in.next();
    const long baseline = standin::liveArrays();
    {
        std::vector<Argument> args;
        std::vector<const vxArray_tag*> prhs;
        for (int input = 0; input < nrhs; ++input) {
            auto arg = decodeArgument(in);
            if (!arg) return 0;
            prhs.push_back(args.emplace_back(std::move(*arg)).array.get());
        }
        // An odd last byte marks the full data argument as a temporary the host no longer needs,
        // so that the scan runs in place in its data; a refusal must leave it as it was.
        const vxArray_tag* data0 = nrhs > 0 ? prhs[0] : nullptr;
        const bool inPlace = data0 != nullptr && (in.next() & 1) && !standin::isSparse(data0) &&
                             !args[0].dense.empty();
        if (inPlace) standin::markReusableTemporary(args[0].array.get());
        matrix::ArrayHandle slot = scalar(-1);
        const vxArray_tag* const before = slot.get();
        standin::failAfter(fault >= 0xf0 ? fault - 0xef : 0);
        bool failed = true;
        try {
            gatewayOf(op)(nlhs, &slot, nrhs, prhs.data());
            failed = false;
        } catch (const foundation::core::except::IMsgIDException& error) {
            require(knownIdentifier(op, error.GetIdentifier()));
            require(!inPlace ||
                    std::memcmp(data0->data, args[0].dense.data(), args[0].dense.size()) == 0);
        } catch (const std::bad_alloc&) {
            require(fault >= 0xf0 && standin::faultCountdown() == 0);
        }
        standin::failAfter(0);
        require(failed == (slot.get() == before));
        if (!failed) checkResult(op, args, slot.get());
    }
    require(standin::liveArrays() == baseline);
    return 0;
}
