// The strided-view API in a program with no host: scans of C++ arrays, in place and into others.
#include <tzmathelem_cumfun/scan.hpp>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

namespace {

void print(const char* title, const double* data, std::size_t rows, std::size_t columns,
           std::ptrdiff_t rowStride, std::ptrdiff_t columnStride) {
    std::printf("%s\n", title);
    for (std::size_t row = 0; row < rows; ++row) {
        for (std::size_t column = 0; column < columns; ++column) {
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(row) * rowStride +
                                      static_cast<std::ptrdiff_t>(column) * columnStride;
            std::printf(" %6g", data[at]);
        }
        std::printf("\n");
    }
}

}  // namespace

int main() {
    using tzcumfun::ElementType;
    using tzcumfun::ScanOp;

    // A row-major 3-by-4 matrix: axis 0 runs down the columns (stride 4), axis 1 along a row.
    std::vector<double> matrix = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::vector<double> sums(matrix.size());
    const std::array<std::size_t, 2> extents{3, 4};
    const std::array<std::ptrdiff_t, 2> rowMajor{4, 1};
    const tzcumfun::ConstView in{matrix.data(), ElementType::float64, false, extents, rowMajor};
    const tzcumfun::View out{sums.data(), ElementType::float64, false, extents, rowMajor};

    // Along each row.
    tzcumfun::scan(ScanOp::cumsum, in, out, {.axis = 1});
    print("cumsum along the rows:", sums.data(), 3, 4, 4, 1);

    // Running maximum from the end of each column, in place; NaN passes over by default.
    matrix[5] = NAN;
    const tzcumfun::View inPlace{matrix.data(), ElementType::float64, false, extents, rowMajor};
    tzcumfun::scanInPlace(ScanOp::cummax, inPlace, {.axis = 0, .reverse = true});
    print("cummax up each column, in place (one NaN passed over):", matrix.data(), 3, 4, 4, 1);

    // One column of the row-major matrix as a strided vector: every fourth element, from the
    // third. It is copied once to scan it, and the products land in the same column of `sums`.
    const std::array<std::size_t, 1> columnExtent{3};
    const std::array<std::ptrdiff_t, 1> columnStride{4};
    std::vector<double> column = {2, 0.5, 4, 3, 7, 8, 1, -1, 9, 2, 3, 0};
    tzcumfun::scan(ScanOp::cumprod,
                   {column.data() + 2, ElementType::float64, false, columnExtent, columnStride},
                   {sums.data() + 2, ElementType::float64, false, columnExtent, columnStride});
    print("cumprod of the third column [4 1 3], into the third column of the sums:", sums.data(), 3,
          4, 4, 1);

    // Refusals come as tzcumfun::ScanError, with the identifier the host's gateways raise.
    std::vector<float> single(matrix.size());
    try {
        tzcumfun::scan(ScanOp::cumsum, in,
                       {single.data(), ElementType::float32, false, extents, rowMajor});
    } catch (const tzcumfun::ScanError& error) {
        std::printf("refused: %s (%s)\n", error.identifier().c_str(), error.what());
    }
    return 0;
}
