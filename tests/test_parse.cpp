// Reading of dimension and option arguments: what each accepted call sets, and the text reader.
#include <gtest/gtest.h>

#include <deque>

#include "driver/driver.hpp"
#include "gateways/arguments.hpp"
#include "gateways/errors.hpp"
#include "host_support.hpp"

namespace {

using namespace testing_support;
using tzcumfun::CumOp;

struct Accepted {
    const char* what;
    std::vector<std::function<ArrayHandle()>> extra;
    std::size_t dim;
    int direction;  // -1: the default (forward)
    int nanFlag;    // -1: the operation's default
};

std::function<ArrayHandle()> t(std::u16string value) {
    return [value] { return text(value); };
}
std::function<ArrayHandle()> n(double value) {
    return [value] { return scalar(value); };
}
std::function<ArrayHandle()> s(std::u16string value) {
    return [value] { return standin::makeString({value}); };
}
template <class T>
std::function<ArrayHandle()> typed(vxClassID classId, T value) {
    return [=] { return makeFilled(classId, {1, 1}, std::deque<T>{value}); };
}

TEST(Parse, AcceptedCallsSetDimensionDirectionAndNaNFlag) {
    const Accepted rows[] = {
        {"data only", {}, 0, -1, -1},
        {"text second input is an option", {t(u"reverse")}, 0, 0, -1},
        {"dimension", {n(2)}, 2, -1, -1},
        {"dimension beyond the last", {n(7)}, 7, -1, -1},
        {"logical true dimension", {typed<bool>(vxLOGICAL_CLASS, true)}, 1, -1, -1},
        {"int8 dimension", {typed<signed char>(vxINT8_CLASS, 3)}, 3, -1, -1},
        {"single dimension", {typed<float>(vxSINGLE_CLASS, 2.0F)}, 2, -1, -1},
        {"largest dimension",
         {typed<long long>(vxINT64_CLASS, 9223372036854775807LL)},
         9223372036854775807ULL,
         -1,
         -1},
        {"F", {t(u"F")}, 0, 1, -1},
        {"Rev", {t(u"Rev")}, 0, 0, -1},
        {"OMITNAN", {t(u"OMITNAN")}, 0, -1, 1},
        {"o resolves to omit", {t(u"o")}, 0, -1, 1},
        {"i resolves to include", {t(u"i")}, 0, -1, 0},
        {"omitm", {t(u"omitm")}, 0, -1, 1},
        {"includeM", {t(u"includeM")}, 0, -1, 0},
        {"string scalar option", {s(u"reverse")}, 0, 0, -1},
        {"direction then NaN", {n(1), t(u"r"), t(u"includenan")}, 1, 0, 0},
        {"NaN then direction", {t(u"omitmissing"), s(u"FORWARD")}, 0, 1, 1},
        {"dimension and two options", {n(3), s(u"inc"), t(u"rE")}, 3, 0, 0},
    };
    for (const CumOp op : kAllOps) {
        const int defaultNaN = (op == CumOp::Min || op == CumOp::Max) ? 1 : 0;
        for (const Accepted& row : rows) {
            SCOPED_TRACE(std::string(nameOf(op)) + ": " + row.what);
            std::vector<ArrayHandle> arrays;
            arrays.push_back(makeFilled(vxDOUBLE_CLASS, {2, 2}, std::vector<double>(4, 1.0)));
            for (const auto& make : row.extra)
                arrays.push_back(make());
            std::vector<const vxArray_tag*> args;
            for (const auto& array : arrays)
                args.push_back(array.get());
            std::size_t dim = 0;
            std::uint8_t direction = 1;
            std::uint8_t nanFlag = static_cast<std::uint8_t>(defaultNaN);
            tzcumfun::parseCumArgs(op, static_cast<int>(args.size()), args.data(), dim, direction,
                                   nanFlag);
            EXPECT_EQ(dim, row.dim);
            EXPECT_EQ(direction, row.direction < 0 ? 1 : row.direction);
            EXPECT_EQ(nanFlag, row.nanFlag < 0 ? defaultNaN : row.nanFlag);
        }
    }
}

TEST(Parse, WordMatchingIsCaseFoldedAbbreviationOfAtLeastTheMinimum) {
    using tzcumfun::optionWordMatches;
    EXPECT_TRUE(optionWordMatches(u"OmItN", u"omitnan", 1));
    EXPECT_TRUE(optionWordMatches(u"omitnan", u"omitnan", 7));
    EXPECT_FALSE(optionWordMatches(u"omit", u"omitnan", 5));
    EXPECT_FALSE(optionWordMatches(u"", u"omitnan", 0 + 1));
    EXPECT_FALSE(optionWordMatches(u"omitnanx", u"omitnan", 1));
    EXPECT_FALSE(optionWordMatches(u"\u00c9", u"e", 1));
    EXPECT_FALSE(optionWordMatches(u"[", u"{", 1)) << "only A to Z fold";
}

TEST(Parse, TextReaderRefusesWhatIsNeitherCharRowNorOneString) {
    using tzcumfun::HostException;
    using Refused = HostException<Korvex::string::MustBeStringScalarOrCharacterVector>;
    const ArrayHandle number = scalar(1);
    const ArrayHandle pair = standin::makeString({u"a", u"b"});
    const ArrayHandle column = standin::makeChar(u"ab", {2, 1});
    for (const vxArray_tag* arg : {number.get(), pair.get(), column.get()}) {
        try {
            (void)tzcumfun::readScalarText(arg);
            ADD_FAILURE() << "no error";
        } catch (const Refused& error) {
            EXPECT_EQ(error.GetIdentifier(), "Korvex:string:MustBeStringScalarOrCharacterVector");
            EXPECT_EQ(error.GetMsgID().catalog, "Korvex:string");
        }
    }
    const ArrayHandle row = standin::makeChar(u"abc");
    EXPECT_EQ(tzcumfun::readScalarText(row.get()), u"abc");
    EXPECT_EQ(tzcumfun::readScalarText(row.get()).data(), row->data) << "borrowed, not copied";
}

}  // namespace

namespace {

// The driver settles the working dimension and hands it back 0-based.
TEST(Driver, WorkingDimensionIsWrittenBackZeroBased) {
    struct Case {
        Dims dims;
        std::size_t given;
        std::size_t written;
    };
    const Case cases[] = {{{5, 3}, 0, 0}, {{1, 7}, 0, 1},    {{1, 1, 4}, 0, 2}, {{1, 1}, 0, 0},
                          {{4, 6}, 2, 1}, {{4, 6, 3}, 3, 2}, {{4, 6}, 5, 4},    {{0, 3}, 0, 0}};
    for (const Case& c : cases) {
        const ArrayHandle input = standin::makeArray(vxDOUBLE_CLASS, c.dims);
        matrix::ArrayHandle slot;
        std::size_t dim = c.given;
        tzcumfun::cumDriver(CumOp::Sum, &slot, input.get(), dim, 1, 1);
        EXPECT_EQ(dim, c.written);
        EXPECT_EQ(standin::dimsOf(slot.get()), standin::dimsOf(input.get()));
    }
}

}  // namespace
