// Validation of the data argument and reading of the dimension and option arguments.
#include "gateways/arguments.hpp"

#include <array>

#include "driver/array_header.hpp"
#include "gateways/errors.hpp"
#include "host/mathcore.hpp"
#include "host/string_matrix.hpp"

namespace tzcumfun {
namespace {

enum class OptionKind : std::uint8_t { Direction, NaNFlag };

struct OptionWord {
    std::u16string_view word;
    OptionKind kind;
    std::uint8_t value;
};

// Tried in this order, so that the shared leading parts of a pair ("o", "include") resolve to
// its first word; both words of a pair store the same value.
constexpr std::array<OptionWord, 6> kOptionWords{{
    {u"forward", OptionKind::Direction, 1},
    {u"reverse", OptionKind::Direction, 0},
    {u"omitnan", OptionKind::NaNFlag, 1},
    {u"omitmissing", OptionKind::NaNFlag, 1},
    {u"includenan", OptionKind::NaNFlag, 0},
    {u"includemissing", OptionKind::NaNFlag, 0},
}};

// ASCII lower-casing; the folding table has no entry above 127.
char16_t foldAscii(char16_t unit) {
    if (unit > 127)
        throw tzboost::enable_current_exception(foundation::ustring::CtypeInvalidCharacter());
    return (unit >= u'A' && unit <= u'Z') ? char16_t(unit - u'A' + u'a') : unit;
}

}  // namespace

bool optionWordMatches(std::u16string_view text, std::u16string_view word, std::size_t minLength) {
    if (text.size() < minLength || text.size() > word.size()) return false;
    try {
        for (std::size_t unit = 0; unit < text.size(); ++unit) {
            if (foldAscii(text[unit]) != foldAscii(word[unit])) return false;
        }
    } catch (...) {  // a non-ASCII unit can never abbreviate an option word
        return false;
    }
    return true;
}

std::u16string_view readScalarText(const vxArray_tag* arg) {
    if (classOf(arg) == vxCHAR_CLASS) {
        const auto dims = dimensionsOf(arg);
        if (dims.size() == 2 && (dims[0] == 1 || (dims[0] == 0 && dims[1] == 0))) {
            return {static_cast<const char16_t*>(arg->data), dims[0] * dims[1]};
        }
    }
    if (!Tessaly::String::isString(arg)) {
        raiseStringError<Korvex::string::MustBeStringScalarOrCharacterVector>(
            "MustBeStringScalarOrCharacterVector");
    }
    const Tessaly::String::StringArray& strings = Tessaly::String::getString(arg);
    if (strings.getNumberOfElements() != 1) {
        raiseStringError<Korvex::string::MustBeStringScalarOrCharacterVector>(
            "MustBeStringScalarOrCharacterVector");
    }
    if (strings[0].missing)
        raiseStringError<Korvex::string::MissingNotSupported>("MissingNotSupported");
    return strings[0].text;
}

void parseCumOption(CumOp op, const vxArray_tag* arg, std::uint8_t& direction,
                    std::uint8_t& nanFlag, std::uint8_t& directionSeen, std::uint8_t& nanSeen) {
    if (!Tessaly::String::isScalarText(arg, false, true))
        raiseCumError<Korvex::cumfun::wrongFlag>(op);
    applyCumOptionText(op, readScalarText(arg), direction, nanFlag, directionSeen, nanSeen);
}

void applyCumOptionText(CumOp op, std::u16string_view text, std::uint8_t& direction,
                        std::uint8_t& nanFlag, std::uint8_t& directionSeen, std::uint8_t& nanSeen) {
    for (const OptionWord& option : kOptionWords) {
        if (!optionWordMatches(text, option.word, 1)) continue;
        if (option.kind == OptionKind::Direction) {
            direction = option.value;
            if (directionSeen != 0) raiseCumError<Korvex::cumfun::duplicateDirection>(op);
            directionSeen = 1;
        } else {
            nanFlag = option.value;
            if (nanSeen != 0) raiseCumError<Korvex::cumfun::duplicateNaNFlag>(op);
            nanSeen = 1;
        }
        return;
    }
    raiseCumError<Korvex::cumfun::wrongFlag>(op);
}

void parseCumArgs(CumOp op, int nrhs, const vxArray_tag** prhs, std::size_t& dim,
                  std::uint8_t& direction, std::uint8_t& nanFlag) {
    const vxArray_tag* data = prhs[0];
    const vxClassID classId = classOf(data);
    if (!hasFlags(data, vx_flags::numeric) && classId != vxLOGICAL_CLASS) {
        raiseCumError<Korvex::cumfun::wrongInput>(op);
    }
    if (isIntegerClass(classId) && isComplex(data))
        raiseCumError<Korvex::cumfun::complexIntegers>(op);

    int firstOption = 1;
    if (nrhs >= 2 && !Tessaly::String::isScalarText(prhs[1], false, true)) {
        dim = mathcoreGetDimArg(prhs[1]) + 1;
        firstOption = 2;
    }
    std::uint8_t directionSeen = 0;
    std::uint8_t nanSeen = 0;
    for (int option = firstOption; option < nrhs; ++option) {
        parseCumOption(op, prhs[option], direction, nanFlag, directionSeen, nanSeen);
    }
}

}  // namespace tzcumfun
