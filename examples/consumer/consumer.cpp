// Calls cumsum through the installed package, with the stand-in host providing the arrays.
#include <tzmathelem_cumfun/cumfun.hpp>
#include <tzmathelem_cumfun/standin/standin.hpp>

#include <cstdio>
#include <cstring>

int main() {
    const double values[] = {1, 2, 3, 4};
    matrix::ArrayHandle data = standin::makeArray(vxDOUBLE_CLASS, {1, 4});
    std::memcpy(data->data, values, sizeof values);
    const vxArray_tag* prhs[] = {data.get()};
    matrix::ArrayHandle result;
    mathelemCumsumFcn(1, &result, 1, prhs);
    const auto* out = static_cast<const double*>(result->data);
    std::printf("consumer: cumsum([1 2 3 4]) = [%g %g %g %g]\n", out[0], out[1], out[2], out[3]);
    return out[3] == 10.0 ? 0 : 1;
}
