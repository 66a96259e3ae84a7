// Every bad call in tests/refusals.txt through every gateway it names: identifier, message id,
// exception type, legacy-hook use, the output slot left alone and no array left behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <typeinfo>

#include "host_support.hpp"

namespace {

using namespace testing_support;

std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(' ');
    return begin == text.npos ? "" : text.substr(begin, text.find_last_not_of(' ') + 1 - begin);
}

// The text between quotes, with \uXXXX escapes as UTF-16 units.
std::u16string unquoted(const std::string& quoted) {
    std::u16string text;
    for (std::size_t at = quoted.find_first_of("'\"") + 1; at + 1 < quoted.size(); ++at) {
        const bool escape = quoted.compare(at, 2, "\\u") == 0;
        text += escape ? char16_t(std::stoul(quoted.substr(at + 2, 4), nullptr, 16)) : quoted[at];
        at += escape ? 5 : 0;
    }
    return text;
}

template <class... T>
void fill(vxClassID classId, void* data, const std::vector<long double>& values) {
    (..., (classId == hostClass<T>()
               ? (void)std::copy(values.begin(), values.end(), static_cast<T*>(data))
               : void()));
}

// One input as the table writes it.
ArrayHandle makeInput(const std::string& token) {
    const auto open = token.find('[');
    const Dims shape = open == token.npos
                           ? Dims{}
                           : Dims{std::stoul(token.substr(open + 1)),
                                  std::stoul(token.substr(token.find('x', open) + 1))};
    char* end = nullptr;
    const double number = std::strtod(token.c_str(), &end);
    if (*end == '\0') return scalar(number);
    if (token == "m") return makeFilled(vxDOUBLE_CLASS, {3, 2}, std::vector<double>(6, 1.0));
    if (token[0] == '\'' || token.starts_with("char"))
        return standin::makeChar(unquoted(token), shape);
    if (token.starts_with("sparse")) {
        return standin::makeSparse(vxDOUBLE_CLASS, vxREAL, shape[0], shape[1],
                                   std::vector<std::size_t>(shape[1] + 1, 0), {}, nullptr);
    }
    std::istringstream list(token);
    if (token[0] == '"' || token[0] == '<') {
        std::vector<std::optional<std::u16string>> elements;
        for (std::string word; std::getline(list, word, ',');)
            elements.push_back(word == "<missing>" ? std::nullopt : std::optional(unquoted(word)));
        return standin::makeString(elements);
    }
    static const std::string kClasses[] = {"logical", "char",  "void",  "double", "single",
                                           "int8",    "uint8", "int16", "uint16", "int32",
                                           "uint32",  "int64", "uint64"};
    const bool complex = token.starts_with("complex-");
    const std::string name =
        token.substr(complex ? 8 : 0, token.find_first_of("[:") - (complex ? 8 : 0));
    const auto classId = static_cast<vxClassID>(
        vxLOGICAL_CLASS + (std::find(kClasses, std::end(kClasses), name) - kClasses));
    ArrayHandle array = standin::makeArray(classId, shape.empty() ? Dims{1, 1} : shape,
                                           complex ? vxCOMPLEX : vxREAL);
    std::vector<long double> values;
    list.str(token.find(':') == token.npos ? "" : token.substr(token.find(':') + 1));
    for (std::string value; std::getline(list, value, ',');)
        values.push_back(std::strtold(value.c_str(), nullptr));
    fill<bool, double, float, signed char, unsigned char, short, unsigned short, int, unsigned,
         long long, unsigned long long>(classId, array->data, values);
    return array;
}

TEST(Refusals, EveryBadCallInTheTableIsRefusedAsListed) {
    std::ifstream file(TZCUMFUN_TESTS_DIR "/refusals.txt");
    int rows = 0;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (trimmed(line).empty() || trimmed(line)[0] == '#') continue;
        ++rows;
        std::vector<std::string> fields;  // gateways, identifier, message id, call
        for (std::size_t start = 0, bar = 0; fields.size() < 4; start = bar + 3) {
            bar = fields.size() < 3 ? line.find(" | ", start) : line.size();
            fields.push_back(trimmed(line.substr(start, bar - start)));
        }
        const std::string catalog = fields[2].substr(0, fields[2].rfind(':'));
        const std::string key = fields[2].substr(fields[2].rfind(':') + 1);
        // Inputs are separated by spaces outside quotes.
        std::vector<std::string> inputs{""};
        char quote = 0;
        for (const char c : fields[3] + ' ') {
            if (quote == 0 && c == ' ') {
                if (!inputs.back().empty()) inputs.emplace_back();
                continue;
            }
            if (c == '\'' || c == '"') quote = quote == c ? 0 : quote == 0 ? c : quote;
            inputs.back() += c;
        }
        inputs.pop_back();
        int nargout = 1;
        if (!inputs.empty() && inputs[0].starts_with("nargout=")) {
            nargout = std::stoi(inputs[0].substr(8));
            inputs.erase(inputs.begin());
        }
        for (const tzcumfun::CumOp op : kAllOps) {
            const std::string name = nameOf(op);
            if (fields[0] != "*" && fields[0] != name) continue;
            SCOPED_TRACE("refusals.txt line " + std::to_string(number) + ", " + name);
            std::string identifier = fields[1];
            if (const auto mark = identifier.find('%'); mark != identifier.npos)
                identifier.replace(mark, 1, name);
            // Only the library's own refusals pass through the legacy hook.
            const bool viaHook = catalog == "Korvex:cumfun";
            const long liveBefore = standin::liveArrays();
            {
                std::vector<ArrayHandle> arrays;
                std::vector<const vxArray_tag*> args;
                for (const std::string& input : inputs)
                    args.push_back(arrays.emplace_back(makeInput(input)).get());
                const long hooksBefore = standin::legacyHookCalls();
                matrix::ArrayHandle slot = scalar(42);
                vxArray_tag* const slotBefore = slot.get();
                try {
                    gatewayOf(op)(nargout, &slot, static_cast<int>(args.size()), args.data());
                    ADD_FAILURE() << "accepted";
                } catch (const foundation::core::except::IMsgIDException& error) {
                    EXPECT_EQ(error.GetIdentifier(), identifier);
                    EXPECT_EQ(error.GetMsgID().catalog, catalog);
                    EXPECT_EQ(error.GetMsgID().key, key);
                    EXPECT_TRUE(error.GetMsgID().args.empty());
                    EXPECT_EQ(standin::legacyHookCalls(), hooksBefore + (viaHook ? 1 : 0));
                    EXPECT_EQ(standin::lastLegacyIdentifier() == identifier, viaHook);
                    // The exception's type carries the reason as its tag.
                    EXPECT_NE(std::string(typeid(error).name()).find(key), std::string::npos);
                    EXPECT_TRUE(*error.what() &&
                                std::string(error.what()).find("Unknown") == std::string::npos);
                }
                EXPECT_EQ(slot.get(), slotBefore) << "the output slot changed";
            }
            EXPECT_EQ(standin::liveArrays(), liveBefore) << "an array leaked";
        }
    }
    EXPECT_GT(rows, 50) << "tests/refusals.txt not read";
}

}  // namespace
