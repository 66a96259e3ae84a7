// The library's refusals: one exception type per reason, and the helpers that raise them.
#pragma once

#include <string>
#include <string_view>

#include "driver/types.hpp"
#include "host/tzfl.hpp"

namespace Korvex::cumfun {
struct wrongInput;
struct complexIntegers;
struct wrongFlag;
struct duplicateDirection;
struct duplicateNaNFlag;
}  // namespace Korvex::cumfun

namespace Korvex::string {
struct MustBeStringScalarOrCharacterVector;
struct MissingNotSupported;
}  // namespace Korvex::string

namespace tzcumfun {

template <class Tag>
using HostException = foundation::core::except::Exception<Tag, std::exception, void>;

// The name a user called the operation by, as it appears in identifiers.
const char* cumFunctionName(CumOp op);

// The key of each reason in the "Korvex:cumfun" catalog; it is also the identifier's last word.
template <class Tag>
struct CumReason;
template <>
struct CumReason<Korvex::cumfun::wrongInput> {
    static constexpr std::string_view key = "wrongInput";
};
template <>
struct CumReason<Korvex::cumfun::complexIntegers> {
    static constexpr std::string_view key = "complexIntegers";
};
template <>
struct CumReason<Korvex::cumfun::wrongFlag> {
    static constexpr std::string_view key = "wrongFlag";
};
template <>
struct CumReason<Korvex::cumfun::duplicateDirection> {
    static constexpr std::string_view key = "duplicateDirection";
};
template <>
struct CumReason<Korvex::cumfun::duplicateNaNFlag> {
    static constexpr std::string_view key = "duplicateNaNFlag";
};

// Builds the exception, lets the host's legacy hook see it, then throws it.
template <class Tag>
[[noreturn]] void throwCumError(const std::string& identifier, resource_core::BaseMsgID msgId);

// Raises the "Korvex:<function>:<reason>" error of the operation `op`.
template <class Tag>
[[noreturn]] void raiseCumError(CumOp op) {
    const std::string key(CumReason<Tag>::key);
    throwCumError<Tag>("Korvex:" + std::string(cumFunctionName(op)) + ":" + key,
                       resource_core::BaseMsgID{{}, "Korvex:cumfun", key});
}

// Raises one of the host string component's errors; they carry no function name and do not
// pass through the legacy hook.
template <class Tag>
[[noreturn]] void raiseStringError(std::string key) {
    throw HostException<Tag>(resource_core::BaseMsgID{{}, "Korvex:string", std::move(key)});
}

}  // namespace tzcumfun
