// Every refusal a caller can meet: identifier, message id, exception type and legacy-hook use.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "gateways/errors.hpp"
#include "host_support.hpp"

namespace {

using namespace testing_support;
using tzcumfun::CumOp;
using tzcumfun::HostException;

// How a row is expected to fail. Library reasons carry the called function's name; host errors
// and string errors carry a fixed identifier and never pass through the legacy hook.
enum class Source { Cumfun, String, Host };

struct Refusal {
    const char* what;
    std::function<std::vector<ArrayHandle>()> args;
    Source source;
    const char* reason;  // key for Cumfun and String rows, whole identifier for Host rows
};

ArrayHandle matrix3x2() {
    return makeFilled(vxDOUBLE_CLASS, {3, 2}, std::vector<double>(6, 1.0));
}

// A call whose data argument is `make`'s array and nothing else.
std::function<std::vector<ArrayHandle>()> alone(std::function<ArrayHandle()> make) {
    return [make] {
        std::vector<ArrayHandle> arrays;
        arrays.push_back(make());
        return arrays;
    };
}

// A call on a 3-by-2 double matrix with the given further arguments.
template <class... Args>
std::function<std::vector<ArrayHandle>()> data(Args... args) {
    return [=]() {
        std::vector<ArrayHandle> arrays;
        arrays.push_back(matrix3x2());
        (arrays.push_back(args()), ...);
        return arrays;
    };
}

std::function<ArrayHandle()> txt(std::u16string value) {
    return [value]() { return text(value); };
}
std::function<ArrayHandle()> num(double value) {
    return [value]() { return scalar(value); };
}
std::function<ArrayHandle()> str(std::optional<std::u16string> value) {
    return [value]() { return standin::makeString({value}); };
}
template <class T>
std::function<ArrayHandle()> typed(vxClassID classId, Dims dims, std::vector<T> values,
                                   vxComplexity complexity = vxREAL) {
    return [=]() { return makeFilled(classId, dims, values, complexity); };
}

const char* const kDim = "dimensionMustBePositiveInteger";

std::vector<Refusal> refusalTable() {
    std::vector<Refusal> rows{
        {"char data", alone(txt(u"abc")), Source::Cumfun, "wrongInput"},
        {"numeric-looking char data", alone(txt(u"12")), Source::Cumfun, "wrongInput"},
        {"string data", alone(str(u"1")), Source::Cumfun, "wrongInput"},
        {"number as third input", data(num(2), num(1)), Source::Cumfun, "wrongFlag"},
        {"number after an option", data(txt(u"reverse"), num(2)), Source::Cumfun, "wrongFlag"},
        {"logical as option", data(num(1), typed<bool>(vxLOGICAL_CLASS, {1, 1}, {true})),
         Source::Cumfun, "wrongFlag"},
        {"dimension as text", data(txt(u"2")), Source::Cumfun, "wrongFlag"},
        {"dimension as string", data(str(u"1")), Source::Cumfun, "wrongFlag"},
        {"empty text", data(txt(u"")), Source::Cumfun, "wrongFlag"},
        {"empty string scalar", data(str(u"")), Source::Cumfun, "wrongFlag"},
        {"0-by-0 char", data([] {
             return standin::makeChar(u"", {0, 0});
         }),
         Source::Cumfun, "wrongFlag"},
        {"char column option",
         data(num(1),
              [] {
                  return standin::makeChar(u"rev", {3, 1});
              }),
         Source::Cumfun, "wrongFlag"},
        {"char matrix option",
         data(num(1),
              [] {
                  return standin::makeChar(u"revrev", {2, 3});
              }),
         Source::Cumfun, "wrongFlag"},
        {"two-element string option",
         data(num(1),
              [] {
                  return standin::makeString({u"f", u"r"});
              }),
         Source::Cumfun, "wrongFlag"},
        // Only a text scalar is an option in second place; anything else there is a dimension.
        {"char column second", data([] {
             return standin::makeChar(u"rev", {3, 1});
         }),
         Source::Host, kDim},
        {"two-element string second", data([] {
             return standin::makeString({u"f", u"r"});
         }),
         Source::Host, kDim},
        {"too long", data(txt(u"forwards")), Source::Cumfun, "wrongFlag"},
        {"no such word", data(txt(u"nan")), Source::Cumfun, "wrongFlag"},
        {"inner space", data(txt(u"omit nan")), Source::Cumfun, "wrongFlag"},
        {"past a common stem", data(txt(u"omitx")), Source::Cumfun, "wrongFlag"},
        {"too long, upper case", data(txt(u"INCLUDEMISSINGS")), Source::Cumfun, "wrongFlag"},
        {"non-ASCII first", data(txt(u"\u00e9")), Source::Cumfun, "wrongFlag"},
        {"non-ASCII inside", data(txt(u"r\u00e9verse")), Source::Cumfun, "wrongFlag"},
        {"non-ASCII after a mismatch", data(txt(u"x\u00e9")), Source::Cumfun, "wrongFlag"},
        {"Kelvin sign folds to k only in Unicode", data(txt(u"\u212a")), Source::Cumfun,
         "wrongFlag"},
        {"first bad option wins", data(txt(u"bogus"), txt(u"r"), txt(u"r")), Source::Cumfun,
         "wrongFlag"},
        {"missing string option", data(str(std::nullopt)), Source::String, "MissingNotSupported"},
        {"missing string after a dimension", data(num(1), str(std::nullopt)), Source::String,
         "MissingNotSupported"},
        {"three words, direction twice", data(txt(u"f"), txt(u"omitnan"), txt(u"R")),
         Source::Cumfun, "duplicateDirection"},
        {"complex dimension",
         data(typed<std::complex<double>>(vxDOUBLE_CLASS, {1, 1}, {{2, 0}}, vxCOMPLEX)),
         Source::Host, kDim},
        {"NaN dimension", data(num(std::numeric_limits<double>::quiet_NaN())), Source::Host, kDim},
        {"Inf dimension", data(num(std::numeric_limits<double>::infinity())), Source::Host, kDim},
        {"fractional dimension", data(num(2.5)), Source::Host, kDim},
        {"zero dimension", data(num(0)), Source::Host, kDim},
        {"negative dimension", data(num(-1)), Source::Host, kDim},
        {"2^63 dimension", data(num(9223372036854775808.0)), Source::Host, kDim},
        {"empty dimension", data(typed<double>(vxDOUBLE_CLASS, {0, 0}, {})), Source::Host, kDim},
        {"two dimensions", data(typed<double>(vxDOUBLE_CLASS, {1, 2}, {1, 2})), Source::Host, kDim},
        {"false dimension", data(typed<bool>(vxLOGICAL_CLASS, {1, 1}, {false})), Source::Host,
         kDim},
        {"int8 -1 dimension", data(typed<signed char>(vxINT8_CLASS, {1, 1}, {-1})), Source::Host,
         kDim},
        {"uint64 above 2^63-1",
         data(typed<unsigned long long>(vxUINT64_CLASS, {1, 1}, {1ULL << 63})), Source::Host, kDim},
        {"sparse zero dimension", data([] {
             return standin::makeSparse(vxDOUBLE_CLASS, vxREAL, 1, 1, {0, 0}, {}, nullptr);
         }),
         Source::Host, kDim},
    };
    // Every complex integer class.
    for (int classId = vxINT8_CLASS; classId <= vxUINT64_CLASS; ++classId) {
        rows.push_back(
            {"complex integer data", alone([classId] {
                 return standin::makeArray(static_cast<vxClassID>(classId), {2, 2}, vxCOMPLEX);
             }),
             Source::Cumfun, "complexIntegers"});
    }
    // Every duplicate pair, written in various abbreviations and cases.
    const std::vector<std::u16string> directions{u"forward", u"F", u"Rev", u"REVERSE"};
    const std::vector<std::u16string> nanWords{u"omitnan",        u"OmitM", u"i",
                                               u"includeMissing", u"o",     u"INCLUDEN"};
    for (const auto& first : directions) {
        for (const auto& second : directions) {
            rows.push_back({"duplicate direction", data(txt(first), txt(second)), Source::Cumfun,
                            "duplicateDirection"});
        }
    }
    for (const auto& first : nanWords) {
        for (const auto& second : nanWords) {
            rows.push_back({"duplicate NaN flag", data(num(1), txt(first), str(second)),
                            Source::Cumfun, "duplicateNaNFlag"});
        }
    }
    return rows;
}

// The refusal's exception type, checked through the type the identifier's reason names.
bool hasExceptionType(const std::exception& error, const std::string& reason) {
    using namespace Korvex;
    if (reason == "wrongInput")
        return dynamic_cast<const HostException<cumfun::wrongInput>*>(&error);
    if (reason == "complexIntegers")
        return dynamic_cast<const HostException<cumfun::complexIntegers>*>(&error);
    if (reason == "wrongFlag") return dynamic_cast<const HostException<cumfun::wrongFlag>*>(&error);
    if (reason == "duplicateDirection")
        return dynamic_cast<const HostException<cumfun::duplicateDirection>*>(&error);
    if (reason == "duplicateNaNFlag")
        return dynamic_cast<const HostException<cumfun::duplicateNaNFlag>*>(&error);
    if (reason == "MissingNotSupported")
        return dynamic_cast<const HostException<string::MissingNotSupported>*>(&error);
    return true;  // host errors are the host's own types
}

TEST(Refusals, EveryBadCallGetsItsIdentifierMessageIdTypeAndHookUse) {
    const auto rows = refusalTable();
    for (const CumOp op : kAllOps) {
        for (const Refusal& row : rows) {
            SCOPED_TRACE(std::string(nameOf(op)) + ": " + row.what);
            const long liveBefore = standin::liveArrays();
            {
                std::vector<ArrayHandle> arrays = row.args();
                std::vector<const vxArray_tag*> args;
                for (const auto& array : arrays)
                    args.push_back(array.get());
                const long hooksBefore = standin::legacyHookCalls();
                matrix::ArrayHandle slot = scalar(42);
                vxArray_tag* const slotBefore = slot.get();
                bool caught = false;
                try {
                    gatewayOf(op)(1, &slot, static_cast<int>(args.size()), args.data());
                } catch (const foundation::core::except::IMsgIDException& error) {
                    caught = true;
                    const auto& msgId = error.GetMsgID();
                    const std::string reason = row.reason;
                    switch (row.source) {
                        case Source::Cumfun:
                            EXPECT_EQ(error.GetIdentifier(),
                                      "Korvex:" + std::string(nameOf(op)) + ":" + reason);
                            EXPECT_EQ(msgId.catalog, "Korvex:cumfun");
                            EXPECT_EQ(msgId.key, reason);
                            EXPECT_EQ(standin::legacyHookCalls(), hooksBefore + 1);
                            EXPECT_EQ(standin::lastLegacyIdentifier(), error.GetIdentifier());
                            break;
                        case Source::String:
                            EXPECT_EQ(error.GetIdentifier(), "Korvex:string:" + reason);
                            EXPECT_EQ(msgId.catalog, "Korvex:string");
                            EXPECT_EQ(msgId.key, reason);
                            EXPECT_EQ(standin::legacyHookCalls(), hooksBefore);
                            break;
                        case Source::Host:
                            EXPECT_EQ(error.GetIdentifier(), "Korvex:getdimarg:" + reason);
                            EXPECT_EQ(standin::legacyHookCalls(), hooksBefore);
                            break;
                    }
                    EXPECT_TRUE(msgId.args.empty());
                    EXPECT_TRUE(
                        hasExceptionType(dynamic_cast<const std::exception&>(error), reason));
                    EXPECT_STRNE(error.what(), "");
                    EXPECT_EQ(std::string(error.what()).find("Unknown"), std::string::npos);
                }
                EXPECT_TRUE(caught);
                EXPECT_EQ(slot.get(), slotBefore) << "the output slot changed";
            }
            EXPECT_EQ(standin::liveArrays(), liveBefore) << "an array leaked";
        }
    }
}

struct ArityCase {
    int nlhs;
    int nrhs;
    const char* identifier;  // empty: accepted
};

TEST(Refusals, ArityIsCheckedOutputsFirst) {
    const ArityCase cases[] = {
        {2, 0, "Korvex:TooManyOutputs"},
        {2, 5, "Korvex:TooManyOutputs"},
        {2, 1, "Korvex:TooManyOutputs"},
        {1, 0, "Korvex:minrhs"},
        {0, 0, "Korvex:minrhs"},
        {1, 5, "Korvex:TooManyInputs"},
        {0, 5, "Korvex:TooManyInputs"},
        {0, 1, ""},
        {1, 4, ""},
    };
    const ArrayHandle data = matrix3x2();
    const ArrayHandle dim = scalar(2);
    const ArrayHandle forward = text(u"forward");
    const ArrayHandle omit = text(u"omitnan");
    const ArrayHandle bad = text(u"bad");
    for (const CumOp op : kAllOps) {
        for (const ArityCase& arity : cases) {
            SCOPED_TRACE(std::string(nameOf(op)) + " nlhs=" + std::to_string(arity.nlhs) +
                         " nrhs=" + std::to_string(arity.nrhs));
            // Five inputs whose options are bad show that nothing is read before the counts.
            std::vector<const vxArray_tag*> args{data.get(), dim.get(), forward.get(), omit.get(),
                                                 bad.get()};
            args.resize(arity.nrhs);
            const long hooksBefore = standin::legacyHookCalls();
            CallOutcome outcome = callGateway(gatewayOf(op), arity.nlhs, args);
            EXPECT_EQ(outcome.identifier, arity.identifier);
            EXPECT_EQ(standin::legacyHookCalls(), hooksBefore);
            EXPECT_EQ(outcome.result != nullptr, !outcome.threw) << "nlhs 0 still fills the slot";
        }
    }
}

}  // namespace
