// Every bad call in tests/refusals.txt through every gateway it names: identifier, message id,
// exception type, legacy-hook use, the output slot left alone and no array left behind.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "gateways/errors.hpp"
#include "host_support.hpp"

namespace {

using namespace testing_support;
using tzcumfun::HostException;

struct Row {
    int line = 0;
    std::string gateways, identifier, catalog, key;
    int nargout = 1;
    std::vector<std::string> inputs;
};

std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(' ');
    return begin == std::string::npos ? ""
                                      : text.substr(begin, text.find_last_not_of(' ') + 1 - begin);
}

// Splits a call at spaces outside quotes.
std::vector<std::string> tokens(const std::string& call) {
    std::vector<std::string> out;
    std::string current;
    char quote = 0;
    for (const char c : call) {
        if (quote == 0 && c == ' ') {
            if (!current.empty()) out.push_back(current);
            current.clear();
            continue;
        }
        if (c == '\'' || c == '"') quote = quote == c ? 0 : quote == 0 ? c : quote;
        current += c;
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

std::vector<Row> readTable() {
    std::ifstream file(TZCUMFUN_TESTS_DIR "/refusals.txt");
    std::vector<Row> rows;
    std::string text;
    for (int line = 1; std::getline(file, text); ++line) {
        if (trimmed(text).empty() || trimmed(text)[0] == '#') continue;
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t bar; fields.size() < 3 && (bar = text.find(" | ", start)) != text.npos;
             start = bar + 3) {
            fields.push_back(trimmed(text.substr(start, bar - start)));
        }
        fields.push_back(text.substr(start));
        Row row{line, fields.at(0), fields.at(1)};
        const std::string messageId = fields.at(2);
        row.catalog = messageId.substr(0, messageId.rfind(':'));
        row.key = messageId.substr(messageId.rfind(':') + 1);
        row.inputs = tokens(fields.at(3));
        if (!row.inputs.empty() && row.inputs[0].starts_with("nargout=")) {
            row.nargout = std::stoi(row.inputs[0].substr(8));
            row.inputs.erase(row.inputs.begin());
        }
        rows.push_back(row);
    }
    return rows;
}

// The text between quotes, with \uXXXX escapes as UTF-16 units.
std::u16string unquoted(const std::string& quoted) {
    std::u16string text;
    for (std::size_t at = 1; at + 1 < quoted.size(); ++at) {
        if (quoted.compare(at, 2, "\\u") == 0) {
            text += static_cast<char16_t>(std::stoul(quoted.substr(at + 2, 4), nullptr, 16));
            at += 5;
        } else {
            text += static_cast<char16_t>(quoted[at]);
        }
    }
    return text;
}

Dims shapeIn(const std::string& token, Dims fallback) {
    const auto open = token.find('[');
    if (open == token.npos) return fallback;
    const auto cross = token.find('x', open);
    return {std::stoul(token.substr(open + 1)), std::stoul(token.substr(cross + 1))};
}

template <class T>
void fill(vxArray_tag* array, const std::string& values) {
    std::istringstream list(values);
    auto* out = static_cast<T*>(array->data);
    for (std::string value; std::getline(list, value, ',');) {
        if constexpr (std::is_floating_point_v<T>) {
            *out++ = static_cast<T>(std::strtod(value.c_str(), nullptr));
        } else if constexpr (std::is_signed_v<T>) {
            *out++ = static_cast<T>(std::strtoll(value.c_str(), nullptr, 10));
        } else {
            *out++ = static_cast<T>(std::strtoull(value.c_str(), nullptr, 10));
        }
    }
}

ArrayHandle makeInput(const std::string& token) {
    if (token == "m") return makeFilled(vxDOUBLE_CLASS, {3, 2}, std::vector<double>(6, 1.0));
    if (token.starts_with("'")) return standin::makeChar(unquoted(token));
    if (token.starts_with("char")) {
        const std::string quoted = token.substr(token.find('\''));
        return standin::makeChar(unquoted(quoted), shapeIn(token, {}));
    }
    if (token.starts_with("\"") || token == "<missing>") {
        std::vector<std::optional<std::u16string>> elements;
        std::istringstream list(token);
        for (std::string word; std::getline(list, word, ',');) {
            elements.push_back(word == "<missing>" ? std::nullopt : std::optional(unquoted(word)));
        }
        return standin::makeString(elements);
    }
    if (token.starts_with("sparse")) {
        const Dims dims = shapeIn(token, {1, 1});
        return standin::makeSparse(vxDOUBLE_CLASS, vxREAL, dims[0], dims[1],
                                   std::vector<std::size_t>(dims[1] + 1, 0), {}, nullptr);
    }
    char* end = nullptr;
    const double number = std::strtod(token.c_str(), &end);
    if (*end == '\0') return scalar(number);
    const auto colon = token.find(':');
    const std::string name = token.substr(0, std::min(token.find('['), colon));
    static const char* const kClasses[] = {"logical", "char",  "void",  "double", "single",
                                           "int8",    "uint8", "int16", "uint16", "int32",
                                           "uint32",  "int64", "uint64"};
    const bool complex = name.starts_with("complex-");
    const std::string className = complex ? name.substr(8) : name;
    int classId = vxLOGICAL_CLASS;
    while (classId <= vxUINT64_CLASS && className != kClasses[classId - vxLOGICAL_CLASS])
        ++classId;
    if (classId > vxUINT64_CLASS) throw std::invalid_argument("unknown class in " + token);
    const auto id = static_cast<vxClassID>(classId);
    ArrayHandle array =
        standin::makeArray(id, shapeIn(token, {1, 1}), complex ? vxCOMPLEX : vxREAL);
    const std::string values = colon == token.npos ? "" : token.substr(colon + 1);
    switch (id) {
        case vxLOGICAL_CLASS:
        case vxUINT8_CLASS:
            fill<unsigned char>(array.get(), values);
            break;
        case vxDOUBLE_CLASS:
            fill<double>(array.get(), values);
            break;
        case vxSINGLE_CLASS:
            fill<float>(array.get(), values);
            break;
        case vxINT8_CLASS:
            fill<signed char>(array.get(), values);
            break;
        case vxINT64_CLASS:
            fill<long long>(array.get(), values);
            break;
        case vxUINT64_CLASS:
            fill<unsigned long long>(array.get(), values);
            break;
        default:
            if (!values.empty()) throw std::invalid_argument("no values for " + token);
    }
    return array;
}

// The exception type the key names, for the library's own refusals and string errors.
bool hasExceptionType(const std::exception& error, const std::string& key) {
    using namespace Korvex;
    if (key == "wrongInput") return dynamic_cast<const HostException<cumfun::wrongInput>*>(&error);
    if (key == "complexIntegers")
        return dynamic_cast<const HostException<cumfun::complexIntegers>*>(&error);
    if (key == "wrongFlag") return dynamic_cast<const HostException<cumfun::wrongFlag>*>(&error);
    if (key == "duplicateDirection")
        return dynamic_cast<const HostException<cumfun::duplicateDirection>*>(&error);
    if (key == "duplicateNaNFlag")
        return dynamic_cast<const HostException<cumfun::duplicateNaNFlag>*>(&error);
    if (key == "MissingNotSupported")
        return dynamic_cast<const HostException<string::MissingNotSupported>*>(&error);
    return true;  // the host's own errors are its own types
}

TEST(Refusals, EveryBadCallInTheTableIsRefusedAsListed) {
    const std::vector<Row> rows = readTable();
    ASSERT_GT(rows.size(), 50U) << "tests/refusals.txt not read";
    for (const Row& row : rows) {
        for (const tzcumfun::CumOp op : kAllOps) {
            const std::string name = nameOf(op);
            if (row.gateways != "*" && row.gateways != name) continue;
            SCOPED_TRACE("refusals.txt line " + std::to_string(row.line) + ", " + name);
            std::string identifier = row.identifier;
            if (const auto mark = identifier.find('%'); mark != identifier.npos)
                identifier.replace(mark, 1, name);
            // Only the library's own refusals pass through the legacy hook.
            const bool viaHook = row.catalog == "Korvex:cumfun";
            const long liveBefore = standin::liveArrays();
            {
                std::vector<ArrayHandle> arrays;
                for (const std::string& input : row.inputs)
                    arrays.push_back(makeInput(input));
                std::vector<const vxArray_tag*> args;
                for (const auto& array : arrays)
                    args.push_back(array.get());
                const long hooksBefore = standin::legacyHookCalls();
                matrix::ArrayHandle slot = scalar(42);
                vxArray_tag* const slotBefore = slot.get();
                try {
                    gatewayOf(op)(row.nargout, &slot, static_cast<int>(args.size()), args.data());
                    ADD_FAILURE() << "accepted";
                } catch (const foundation::core::except::IMsgIDException& error) {
                    EXPECT_EQ(error.GetIdentifier(), identifier);
                    EXPECT_EQ(error.GetMsgID().catalog, row.catalog);
                    EXPECT_EQ(error.GetMsgID().key, row.key);
                    EXPECT_TRUE(error.GetMsgID().args.empty());
                    EXPECT_EQ(standin::legacyHookCalls(), hooksBefore + (viaHook ? 1 : 0));
                    if (viaHook) EXPECT_EQ(standin::lastLegacyIdentifier(), identifier);
                    EXPECT_TRUE(
                        hasExceptionType(dynamic_cast<const std::exception&>(error), row.key));
                    EXPECT_STRNE(error.what(), "");
                    EXPECT_EQ(std::string(error.what()).find("Unknown"), std::string::npos);
                }
                EXPECT_EQ(slot.get(), slotBefore) << "the output slot changed";
            }
            EXPECT_EQ(standin::liveArrays(), liveBefore) << "an array leaked";
        }
    }
}

}  // namespace
