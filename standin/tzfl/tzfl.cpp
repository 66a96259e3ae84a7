// Stand-in host foundation library: exception bases and the English message catalog.
#include <map>
#include <utility>

#include "host/tzfl.hpp"

namespace foundation::core::except {
namespace {

using CatalogKey = std::pair<std::string, std::string>;

const std::map<CatalogKey, std::string>& catalog() {
    static const std::map<CatalogKey, std::string> messages{
        {{"Korvex:cumfun", "wrongInput"}, "The first input must be a numeric or logical array."},
        {{"Korvex:cumfun", "complexIntegers"}, "Complex integer arrays are not supported."},
        {{"Korvex:cumfun", "wrongFlag"},
         "Options must follow the data (a dimension may come second) and be one of 'forward', "
         "'reverse', 'omitnan', 'omitmissing', 'includenan' or 'includemissing'."},
        {{"Korvex:cumfun", "duplicateDirection"},
         "The direction ('forward' or 'reverse') may be given only once."},
        {{"Korvex:cumfun", "duplicateNaNFlag"},
         "The NaN option ('omitnan', 'omitmissing', 'includenan' or 'includemissing') may be "
         "given only once."},
        {{"Korvex:string", "MustBeStringScalarOrCharacterVector"},
         "Text must be a string scalar or a character vector."},
        {{"Korvex:string", "MissingNotSupported"}, "Missing string values are not supported."},
        {{"Korvex", "TooManyOutputs"}, "Too many output arguments."},
        {{"Korvex", "TooManyInputs"}, "Too many input arguments."},
        {{"Korvex", "minrhs"}, "Not enough input arguments."},
        {{"Korvex:getdimarg", "dimensionMustBePositiveInteger"},
         "Dimension argument must be a positive integer scalar within indexing range."},
    };
    return messages;
}

// UTF-8 to UTF-16 and back; the catalog and identifiers are ASCII, user text may not be.
std::u16string toUtf16(const std::string& text) {
    std::u16string out;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int more = 1; more <= extra && pos + more < text.size(); ++more) {
            code = (code << 6) | (static_cast<unsigned char>(text[pos + more]) & 0x3F);
        }
        pos += extra + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

std::string toUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        char32_t code = text[pos];
        if (code >= 0xD800 && code < 0xDC00 && pos + 1 < text.size()) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++pos] - 0xDC00);
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace

std::u16string catalogMessage(const resource_core::BaseMsgID& msgId) {
    const auto found = catalog().find({msgId.catalog, msgId.key});
    if (found == catalog().end())
        return toUtf16("Unknown message " + msgId.catalog + ":" + msgId.key);
    return toUtf16(found->second);
}

IException::IException() = default;
IException::IException(const IException& other) : clone_base(other), tzboost::exception(other) {}
IException::~IException() noexcept = default;

const char* IException::what() const noexcept {
    if (whatText_.empty()) {
        try {
            if (const auto* user = dynamic_cast<const IUserException*>(this)) {
                whatText_ = user->convert_str(user->ToUstringImpl());
            }
        } catch (...) {
            return "Out of memory while formatting an error message.";
        }
    }
    return whatText_.c_str();
}

std::u16string IUserException::convert_str(const std::string& text) const {
    return toUtf16(text);
}
std::string IUserException::convert_str(const std::u16string& text) const {
    return toUtf8(text);
}

std::u16string IUserException::ToUstringImpl() const {
    if (const auto* withId = dynamic_cast<const IMsgIDException*>(this)) {
        return withId->GetUnicodeMessageTxt();
    }
    return toUtf16(GetIdentifier());
}

std::u16string IMsgIDException::GetUnicodeMessageTxt() const {
    return catalogMessage(GetMsgID());
}

std::string IMsgIDException::get_error_id(const std::string& identifier) {
    return identifier;
}

std::string IMsgIDException::get_error_id(const resource_core::BaseMsgID& msgId) {
    return msgId.catalog + ":" + msgId.key;
}

}  // namespace foundation::core::except

namespace foundation::ustring {

const char* CtypeInvalidCharacter::what() const noexcept {
    return "Invalid character error.";
}

}  // namespace foundation::ustring
