// Raising the library's refusals through the host's legacy error hook.
#include "gateways/errors.hpp"

#include "driver/operations.hpp"
#include "host/vx.hpp"

namespace tzcumfun {

const char* cumFunctionName(CumOp op) {
    return operationOf(op).name.data();
}

template <class Tag>
void throwCumError(const std::string& identifier, resource_core::BaseMsgID msgId) {
    HostException<Tag> error(identifier, std::move(msgId));
    matrix::detail::do_legacy_vx_error(error);
    throw error;
}

template void throwCumError<Korvex::cumfun::wrongInput>(const std::string&,
                                                        resource_core::BaseMsgID);
template void throwCumError<Korvex::cumfun::complexIntegers>(const std::string&,
                                                             resource_core::BaseMsgID);
template void throwCumError<Korvex::cumfun::wrongFlag>(const std::string&,
                                                       resource_core::BaseMsgID);
template void throwCumError<Korvex::cumfun::duplicateDirection>(const std::string&,
                                                                resource_core::BaseMsgID);
template void throwCumError<Korvex::cumfun::duplicateNaNFlag>(const std::string&,
                                                              resource_core::BaseMsgID);

}  // namespace tzcumfun
