// Stand-in host string library: the text-scalar test and access to string arrays.
#include "host/string_matrix.hpp"

#include "standin/standin.hpp"
#include "vx/array_private.hpp"

namespace Tessaly::String {

bool isString(const vxArray_tag* arg) {
    return standin::classOf(arg) == standin::kStringClass;
}

bool isScalarText(const vxArray_tag* arg, bool /*allowCellText*/, bool allowStringScalar) {
    if (standin::classOf(arg) == vxCHAR_CLASS) {
        const standin::Dims dims = standin::dimsOf(arg);
        return dims.size() == 2 && (dims[0] == 1 || (dims[0] == 0 && dims[1] == 0));
    }
    return allowStringScalar && isString(arg) && standin::numel(arg) == 1;
}

const StringArray& getString(const vxArray_tag* arg) {
    return *standin::detail::privateOf(arg).strings;
}

}  // namespace Tessaly::String
