// The driver's paths through the gateways: shortcuts, sparse input, header states of the host
// array, and failure of every host allocation or conversion on each path.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <functional>
#include <limits>
#include <new>
#include <thread>

#include "host_support.hpp"

namespace {

using namespace testing_support;
using tzcumfun::CumOp;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

CallOutcome run(CumOp op, const std::vector<const vxArray_tag*>& args) {
    return callGateway(gatewayOf(op), 1, args);
}

struct Shortcut {
    const char* what;
    CumOp op;
    std::function<ArrayHandle()> input;
    std::vector<std::u16string> options;
    double dim;  // 0: not given
    vxClassID resultClass;
    Dims resultDims;
    bool sparse;
    std::vector<double> values;  // expected real values, read as the result's class
};

std::vector<double> readAsDouble(const vxArray_tag* array) {
    std::vector<double> values;
    const std::size_t count = standin::isSparse(array) ? standin::sparseOf(array).rowIndices.size()
                                                       : standin::numel(array);
    for (std::size_t elem = 0; elem < count; ++elem) {
        switch (standin::classOf(array)) {
            case vxLOGICAL_CLASS:
                values.push_back(static_cast<const bool*>(array->data)[elem]);
                break;
            case vxINT16_CLASS:
                values.push_back(static_cast<const short*>(array->data)[elem]);
                break;
            default:
                values.push_back(static_cast<const double*>(array->data)[elem]);
        }
    }
    return values;
}

ArrayHandle logicals(Dims dims, std::deque<bool> values) {
    return makeFilled(vxLOGICAL_CLASS, dims, values);
}

// Inputs of the table below.
ArrayHandle rowWithNaN() {
    return makeFilled(vxDOUBLE_CLASS, {1, 3}, std::vector<double>{3, kNaN, 1});
}
ArrayHandle scalarNaN() {
    return scalar(kNaN);
}
ArrayHandle trueFalseTrue() {
    return logicals({1, 3}, {true, false, true});
}
ArrayHandle complexWithZeroImaginary() {
    return makeFilled(vxDOUBLE_CLASS, {1, 2}, std::vector<std::complex<double>>{{1, 0}, {2, -0.0}},
                      vxCOMPLEX);
}
ArrayHandle emptySparse() {
    return standin::makeSparse(vxDOUBLE_CLASS, vxREAL, 0, 5, {0, 0, 0, 0, 0, 0}, {}, nullptr);
}
ArrayHandle sparseTwoStored() {
    const double values[] = {5, 7};
    return standin::makeSparse(vxDOUBLE_CLASS, vxREAL, 3, 2, {0, 1, 2}, {1, 0}, values);
}
std::function<ArrayHandle()> empty(vxClassID classId, Dims dims) {
    return [=] { return standin::makeArray(classId, dims); };
}

Shortcut shortcut(const char* what, CumOp op, std::function<ArrayHandle()> input,
                  std::vector<std::u16string> options, double dim, vxClassID resultClass,
                  Dims resultDims, bool sparse, std::vector<double> values) {
    return {what,
            op,
            std::move(input),
            std::move(options),
            dim,
            resultClass,
            std::move(resultDims),
            sparse,
            std::move(values)};
}

TEST(DriverPaths, CallsThatNeedNoScanKeepClassShapeAndSparsity) {
    const vxClassID dbl = vxDOUBLE_CLASS;
    const Shortcut cases[] = {
        shortcut("empty double", CumOp::Sum, empty(dbl, {0, 3}), {}, 0, dbl, {0, 3}, false, {}),
        shortcut("empty logical sum is double", CumOp::Sum, empty(vxLOGICAL_CLASS, {2, 0, 4}), {},
                 0, dbl, {2, 0, 4}, false, {}),
        shortcut("empty logical max stays logical", CumOp::Max, empty(vxLOGICAL_CLASS, {0, 0}), {},
                 0, vxLOGICAL_CLASS, {0, 0}, false, {}),
        shortcut("empty int16 with options", CumOp::Prod, empty(vxINT16_CLASS, {3, 0}),
                 {u"rev", u"omitnan"}, 2, vxINT16_CLASS, {3, 0}, false, {}),
        shortcut("empty sparse stays sparse", CumOp::Sum, emptySparse, {u"omitnan"}, 0, dbl, {0, 5},
                 true, {}),
        shortcut("dimension past the last, min copies", CumOp::Min, rowWithNaN, {}, 3, dbl, {1, 3},
                 false, {3, kNaN, 1}),
        shortcut("dimension past the last, sum copies", CumOp::Sum, rowWithNaN, {}, 3, dbl, {1, 3},
                 false, {3, kNaN, 1}),
        shortcut("dimension past the last, sum omitting NaN computes", CumOp::Sum, rowWithNaN,
                 {u"omitnan"}, 3, dbl, {1, 3}, false, {3, 0, 1}),
        shortcut("scalar NaN, product omitting NaN is 1", CumOp::Prod, scalarNaN, {u"omitmissing"},
                 0, dbl, {1, 1}, false, {1}),
        shortcut("scalar NaN, max including NaN copies", CumOp::Max, scalarNaN, {u"includenan"}, 0,
                 dbl, {1, 1}, false, {kNaN}),
        shortcut("logical sum along a singleton becomes double", CumOp::Sum, trueFalseTrue, {}, 1,
                 dbl, {1, 3}, false, {1, 0, 1}),
        shortcut("logical max along a singleton stays logical", CumOp::Max, trueFalseTrue, {}, 4,
                 vxLOGICAL_CLASS, {1, 3}, false, {1, 0, 1}),
        shortcut("complex with zero imaginary parts comes back real", CumOp::Min,
                 complexWithZeroImaginary, {}, 1, dbl, {1, 2}, false, {1, 2}),
        shortcut("sparse along a singleton stays sparse", CumOp::Max, sparseTwoStored, {}, 3, dbl,
                 {3, 2}, true, {5, 7}),
    };
    for (const Shortcut& c : cases) {
        SCOPED_TRACE(c.what);
        const ArrayHandle input = c.input();
        const CallOutcome outcome = callWith(c.op, input.get(), c.dim, c.options);
        ASSERT_FALSE(outcome.threw) << outcome.identifier;
        const vxArray_tag* result = outcome.result.get();
        EXPECT_EQ(standin::classOf(result), c.resultClass);
        EXPECT_EQ(standin::dimsOf(result), c.resultDims);
        EXPECT_EQ(standin::isSparse(result), c.sparse);
        EXPECT_FALSE(standin::isComplex(result));
        const auto got = readAsDouble(result);
        ASSERT_EQ(got.size(), c.values.size());
        for (std::size_t elem = 0; elem < got.size(); ++elem) {
            if (std::isnan(c.values[elem])) {
                EXPECT_TRUE(std::isnan(got[elem]));
            } else {
                EXPECT_EQ(got[elem], c.values[elem]);
            }
        }
    }
}

// A 3-by-4 sparse matrix with a NaN, scanned along both dimensions and past the last; the result
// must equal the scan of its full form, come back sparse, and logical input come back double.
TEST(DriverPaths, SparseInputEqualsItsFullFormAlongEveryDimension) {
    const std::vector<std::size_t> starts{0, 2, 2, 4, 5};
    const std::vector<std::size_t> rows{0, 2, 1, 2, 0};
    const double real[] = {1, 2, kNaN, 4, 5};
    const std::complex<double> cplx[] = {{1, 1}, {2, 0}, {0, 3}, {4, -1}, {5, 2}};
    const bool flags[] = {true, true, true, true, true};
    struct Input {
        vxClassID classId;
        vxComplexity complexity;
        const void* values;
    };
    for (const Input& input :
         {Input{vxDOUBLE_CLASS, vxREAL, real}, Input{vxDOUBLE_CLASS, vxCOMPLEX, cplx},
          Input{vxLOGICAL_CLASS, vxREAL, flags}}) {
        const ArrayHandle sparse =
            standin::makeSparse(input.classId, input.complexity, 3, 4, starts, rows, input.values);
        const ArrayHandle full = [&] {
            auto array = standin::makeArray(input.classId, {3, 4}, input.complexity);
            const std::size_t bytes = standin::elementBytes(input.classId, input.complexity);
            for (std::size_t col = 0; col < 4; ++col) {
                for (std::size_t at = starts[col]; at < starts[col + 1]; ++at) {
                    std::memcpy(static_cast<char*>(array->data) + (col * 3 + rows[at]) * bytes,
                                static_cast<const char*>(input.values) + at * bytes, bytes);
                }
            }
            return array;
        }();
        for (const CumOp op : kAllOps) {
            for (const double dim : {1.0, 2.0, 3.0}) {
                for (const char16_t* option : {u"reverse", u"omitnan"}) {
                    SCOPED_TRACE(std::string(nameOf(op)) + " dim " + std::to_string(dim));
                    const ArrayHandle dimArg = scalar(dim);
                    const ArrayHandle opt = text(option);
                    const CallOutcome fromSparse = run(op, {sparse.get(), dimArg.get(), opt.get()});
                    const CallOutcome fromFull = run(op, {full.get(), dimArg.get(), opt.get()});
                    ASSERT_FALSE(fromSparse.threw || fromFull.threw);
                    EXPECT_TRUE(standin::isSparse(fromSparse.result.get()));
                    const bool toDouble =
                        input.classId == vxLOGICAL_CLASS && (op == CumOp::Sum || op == CumOp::Prod);
                    EXPECT_EQ(standin::classOf(fromSparse.result.get()),
                              toDouble ? vxDOUBLE_CLASS : input.classId);
                    // Back to full through the host, for an element-wise comparison.
                    auto asFull = matrix::convert_to_full_if_needed(fromSparse.result.get());
                    const vxArray_tag* expected = fromFull.result.get();
                    ASSERT_EQ(standin::isComplex(asFull.get()), standin::isComplex(expected));
                    const std::size_t bytes =
                        standin::numel(expected) *
                        standin::elementBytes(standin::classOf(expected),
                                              standin::isComplex(expected) ? vxCOMPLEX : vxREAL);
                    EXPECT_EQ(std::memcmp(asFull->data, expected->data, bytes), 0);
                }
            }
        }
    }
}

// Class ids stored out of line, dimensions not yet materialised, and a reusable temporary that
// is scanned in place in its own data.
TEST(DriverPaths, HeaderStatesAreResolvedAndTemporariesScannedInPlace) {
    for (const CumOp op : kAllOps) {
        SCOPED_TRACE(nameOf(op));
        const std::vector<double> values{4, 1, 3, 2, 6, 5};
        const ArrayHandle plain = makeFilled(vxDOUBLE_CLASS, {2, 1, 3}, values);
        const ArrayHandle odd = makeFilled(vxDOUBLE_CLASS, {2, 1, 3}, values);
        standin::storeClassIdIndirectly(odd.get());
        standin::deferDimensions(odd.get());
        const ArrayHandle dim = scalar(3);
        const CallOutcome expected = run(op, {plain.get(), dim.get()});
        const CallOutcome got = run(op, {odd.get(), dim.get()});
        ASSERT_FALSE(expected.threw || got.threw);
        EXPECT_EQ(valuesOf<double>(got.result.get()), valuesOf<double>(expected.result.get()));

        const ArrayHandle temp = makeFilled(vxDOUBLE_CLASS, {2, 1, 3}, values);
        standin::markReusableTemporary(temp.get());
        const CallOutcome inPlace = run(op, {temp.get(), dim.get()});
        ASSERT_FALSE(inPlace.threw);
        EXPECT_TRUE(standin::sharesData(inPlace.result.get(), temp.get()));
        EXPECT_EQ(valuesOf<double>(inPlace.result.get()), valuesOf<double>(expected.result.get()));
        EXPECT_FALSE(standin::sharesData(expected.result.get(), plain.get()));
    }
}

// Host threads calling at once on one shared input, whose header the first reader has the host
// complete, all get the single-threaded result.
TEST(DriverPaths, ConcurrentCallsOnASharedInputAgree) {
    std::vector<double> values(300 * 40);
    for (std::size_t at = 0; at < values.size(); ++at)
        values[at] = static_cast<double>(at % 7);
    const ArrayHandle plain = makeFilled(vxDOUBLE_CLASS, {300, 40}, values);
    const ArrayHandle shared = makeFilled(vxDOUBLE_CLASS, {300, 40}, values);
    standin::storeClassIdIndirectly(shared.get());
    standin::deferDimensions(shared.get());
    for (const CumOp op : kAllOps) {
        const CallOutcome expected = run(op, {plain.get()});
        std::vector<std::vector<double>> results(4);
        std::vector<std::thread> threads;
        for (auto& result : results) {
            threads.emplace_back(
                [&] { result = valuesOf<double>(run(op, {shared.get()}).result.get()); });
        }
        for (auto& thread : threads)
            thread.join();
        for (const auto& result : results)
            EXPECT_EQ(result, valuesOf<double>(expected.result.get()));
    }
}

// Inputs of the failure paths below.
ArrayHandle complexScalarOne() {
    return makeFilled(vxDOUBLE_CLASS, {1, 1}, std::vector<std::complex<double>>{{1, 0}}, vxCOMPLEX);
}
ArrayHandle square() {
    return makeFilled(vxDOUBLE_CLASS, {2, 2}, std::vector<double>{1, 2, 3, 4});
}
ArrayHandle singleComplexPair() {
    return makeFilled(vxSINGLE_CLASS, {1, 2}, std::vector<std::complex<float>>{{1, 1}, {2, -1}},
                      vxCOMPLEX);
}
ArrayHandle temporarySquare() {
    ArrayHandle array = square();
    standin::markReusableTemporary(array.get());
    return array;
}
// A 2-by-2 sparse array storing its diagonal: 1 and 2, (1,0) and (2,1), or true twice.
ArrayHandle sparseDiagonal(vxClassID classId, vxComplexity complexity) {
    const double real[] = {1, 2};
    const std::complex<double> complex[] = {{1, 0}, {2, 1}};
    const bool flags[] = {true, true};
    const void* values = classId == vxLOGICAL_CLASS ? static_cast<const void*>(flags)
                         : complexity == vxCOMPLEX  ? static_cast<const void*>(complex)
                                                    : static_cast<const void*>(real);
    return standin::makeSparse(classId, complexity, 2, 2, {0, 1, 2}, {0, 1}, values);
}

// Every driver path, with each of its host allocations and conversions failing in turn: the
// failure surfaces, the output slot keeps what it held, and no array is left behind.
TEST(DriverPaths, AFailingHostStepLeaksNothingAndKeepsTheSlot) {
    struct Path {
        const char* what;
        CumOp op;
        std::function<ArrayHandle()> input;
        std::vector<std::u16string> options;
    };
    const Path paths[] = {
        {"shortcut shared copy", CumOp::Max, [] { return scalar(2); }, {}},
        {"shortcut logical to double",
         CumOp::Sum,
         [] {
             return logicals({1, 1}, {true});
         },
         {}},
        {"shortcut complex made real", CumOp::Min, complexScalarOne, {}},
        {"new result", CumOp::Prod, square, {}},
        {"complex result made real", CumOp::Sum, singleComplexPair, {}},
        {"logical into double",
         CumOp::Sum,
         [] {
             return logicals({3, 1}, {true, false, true});
         },
         {u"r"}},
        {"reusable temporary", CumOp::Sum, temporarySquare, {}},
        {"sparse double", CumOp::Sum, [] { return sparseDiagonal(vxDOUBLE_CLASS, vxREAL); }, {}},
        {"sparse complex",
         CumOp::Max,
         [] { return sparseDiagonal(vxDOUBLE_CLASS, vxCOMPLEX); },
         {}},
        {"sparse logical", CumOp::Prod, [] { return sparseDiagonal(vxLOGICAL_CLASS, vxREAL); }, {}},
    };
    for (const Path& path : paths) {
        SCOPED_TRACE(path.what);
        int failures = 0;
        for (long step = 1;; ++step) {
            const long liveBefore = standin::liveArrays();
            {
                const ArrayHandle input = path.input();
                std::vector<ArrayHandle> extra;
                for (const auto& option : path.options)
                    extra.push_back(text(option));
                std::vector<const vxArray_tag*> args{input.get()};
                for (const auto& array : extra)
                    args.push_back(array.get());
                matrix::ArrayHandle slot = scalar(-1);
                vxArray_tag* const before = slot.get();
                standin::failAfter(step);
                bool failed = false;
                try {
                    gatewayOf(path.op)(1, &slot, static_cast<int>(args.size()), args.data());
                } catch (const std::bad_alloc&) {
                    failed = true;
                }
                const bool fired = standin::faultCountdown() == 0;
                standin::failAfter(0);
                if (!failed) {
                    EXPECT_FALSE(fired) << "step " << step << " fired but the call succeeded";
                    EXPECT_NE(slot.get(), before);
                } else {
                    ++failures;
                    EXPECT_EQ(slot.get(), before) << "step " << step << " changed the slot";
                    EXPECT_EQ(valuesOf<double>(slot.get()), std::vector<double>{-1});
                }
                if (!failed) break;
            }
            EXPECT_EQ(standin::liveArrays(), liveBefore) << "step " << step << " leaked";
        }
        EXPECT_GE(failures, 1) << "no host step on this path";
    }
}

}  // namespace
