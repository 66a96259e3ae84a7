// The four operations' functor tables: which functor scans each element family.
#pragma once

#include <concepts>
#include <cstdint>

#include "driver/types.hpp"

#include "functors/isa_level.hpp"
#include "functors/minmax.hpp"
#include "functors/prod.hpp"
#include "functors/sum.hpp"

namespace tzcumfun {
TZCUMFUN_LEVEL_BEGIN

// One operation's functors by element family. `kNaNFunctorFlag` is the NaN flag value that
// selects the NaN-named functor; logical data comes out as whatever the logical functor makes.
template <class LogicalFtor, template <std::floating_point> class FloatFtor,
          template <std::floating_point> class NaNFtor, template <std::integral> class IntFtor,
          std::uint8_t kNaNFlag>
struct FunctorTable {
    using Logical = LogicalFtor;
    using LogicalOut = decltype(LogicalFtor::init(true));
    template <class T>
    using Float = FloatFtor<T>;
    template <class T>
    using NaN = NaNFtor<T>;
    template <class T>
    using Int = IntFtor<T>;
    static constexpr std::uint8_t kNaNFunctorFlag = kNaNFlag;
};

// "omitnan" selects the sums and products that pass over NaN; "includenan" selects the extremes
// that carry it along.
using SumTable = FunctorTable<SumFtorLogical, SumFtorFloat, SumNaNFtor, SumFtorInt, 1>;
using ProdTable = FunctorTable<ProdFtorLogical, ProdFtorFloat, ProdNaNFtor, ProdFtorInt, 1>;
using MinTable = FunctorTable<MinFtorLogical, MinFtorFloat, MinNaNFtor, MinFtorInt, 0>;
using MaxTable = FunctorTable<MaxFtorLogical, MaxFtorFloat, MaxNaNFtor, MaxFtorInt, 0>;

// Each operation's functor table, by its tag.
template <CumOp Op>
struct FunctorTableOf;
template <>
struct FunctorTableOf<CumOp::Sum> : SumTable {};
template <>
struct FunctorTableOf<CumOp::Prod> : ProdTable {};
template <>
struct FunctorTableOf<CumOp::Min> : MinTable {};
template <>
struct FunctorTableOf<CumOp::Max> : MaxTable {};

TZCUMFUN_LEVEL_END
}  // namespace tzcumfun
