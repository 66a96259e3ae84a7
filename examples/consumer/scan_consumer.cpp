// Calls the strided-view API through the installed package, in a program with no host at all.
#include <tzmathelem_cumfun/scan.hpp>

#include <array>
#include <cstdio>

int main() {
    // A row-major 2-by-3 matrix, summed along its rows.
    std::array<double, 6> data{1, 2, 3, 4, 5, 6};
    const std::array<std::size_t, 2> extents{2, 3};
    const std::array<std::ptrdiff_t, 2> strides{3, 1};
    tzcumfun::scanInPlace(tzcumfun::ScanOp::cumsum,
                          {data.data(), tzcumfun::ElementType::float64, false, extents, strides},
                          {.axis = 1});
    std::printf("scan_consumer: row sums of [1 2 3; 4 5 6] = [%g %g %g; %g %g %g]\n", data[0],
                data[1], data[2], data[3], data[4], data[5]);
    try {
        tzcumfun::scanInPlace(tzcumfun::ScanOp::cumsum,
                              {data.data(), tzcumfun::ElementType::int32, true, extents, strides});
    } catch (const tzcumfun::ScanError& error) {
        std::printf("scan_consumer: refused with %s\n", error.identifier().c_str());
        return data[5] == 15.0 && error.identifier() == "Korvex:cumsum:complexIntegers" ? 0 : 1;
    }
    return 1;
}
