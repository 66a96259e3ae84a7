// The four operations' functor tables: which functor scans each element family.
#pragma once

#include <cstdint>

#include "functors/minmax.hpp"
#include "functors/prod.hpp"
#include "functors/sum.hpp"

namespace tzcumfun {

// `kNaNFunctorFlag` is the NaN flag value that selects the NaN-named functor.
struct SumTable {
    using Logical = SumFtorLogical;
    using LogicalOut = double;
    template <class T>
    using Float = SumFtorFloat<T>;
    template <class T>
    using NaN = SumNaNFtor<T>;
    template <class T>
    using Int = SumFtorInt<T>;
    static constexpr std::uint8_t kNaNFunctorFlag = 1;  // "omitnan" selects the omitting sum
};

struct ProdTable {
    using Logical = ProdFtorLogical;
    using LogicalOut = double;
    template <class T>
    using Float = ProdFtorFloat<T>;
    template <class T>
    using NaN = ProdNaNFtor<T>;
    template <class T>
    using Int = ProdFtorInt<T>;
    static constexpr std::uint8_t kNaNFunctorFlag = 1;  // "omitnan" selects the omitting product
};

struct MinTable {
    using Logical = MinFtorLogical;
    using LogicalOut = bool;
    template <class T>
    using Float = MinFtorFloat<T>;
    template <class T>
    using NaN = MinNaNFtor<T>;
    template <class T>
    using Int = MinFtorInt<T>;
    static constexpr std::uint8_t kNaNFunctorFlag = 0;  // "includenan" carries NaN along
};

struct MaxTable {
    using Logical = MaxFtorLogical;
    using LogicalOut = bool;
    template <class T>
    using Float = MaxFtorFloat<T>;
    template <class T>
    using NaN = MaxNaNFtor<T>;
    template <class T>
    using Int = MaxFtorInt<T>;
    static constexpr std::uint8_t kNaNFunctorFlag = 0;  // "includenan" carries NaN along
};

}  // namespace tzcumfun
