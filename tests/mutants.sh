#!/usr/bin/env bash
# Plants known faults in the library, stand-in and module one at a time, rebuilds the release
# preset and runs the suites, to show that each fault is caught; cheap rebuilds come first. A
# fault in one instruction level's kernels (v3-..., v4-...) is caught only on a processor that
# runs that level.
# Usage: tests/mutants.sh [ROOT [NAME...]]
set -uo pipefail
ROOT=$(cd "${1:-$(dirname "$0")/..}" && pwd)
shift || true
cd "$ROOT" || exit 2
PYTHON=/usr/bin/python3
LOG=${TMPDIR:-/tmp}/mutants.$$
# name ~~ file ~~ text ~~ replacement
MUTANTS=(
'odd-bool-bytes-passed-raw~~python/dense.cpp~~(logical && holdsOddBools(data.array))) {~~false) {'
'1d-axis-off-by-one~~python/planning.cpp~~return ndim == 1 && value == 0 ? 2 : static_cast<std::size_t>(value) + 1;~~return static_cast<std::size_t>(value) + 1;'
'axis-past-the-last-accepted~~python/planning.cpp~~value < -count || value >= count~~value < -count'
'keywords-drop-the-imaginary-part~~python/dense.cpp~~return call->hostForm && plan.complex ?~~return plan.complex ?'
'host-form-keeps-zero-imaginary-parts~~python/dense.cpp~~    if (!zero) return result;~~    return result;'
'out-written-in-the-other-order~~python/out.cpp~~return (flags & (cOrder ? NPY_ARRAY_C_CONTIGUOUS : NPY_ARRAY_F_CONTIGUOUS)) != 0;~~return true;'
'option-text-cut-short~~python/planning.cpp~~count + 2 <= units.size()~~count + 2 <= 8'
'masked-array-read-raw~~python/dense.cpp~~if (isMasked(value)) throw py::type_error(kMaskedRefusal);~~'
'data-type-refusal-not-a-type-error~~python/tzcumfun_module.cpp~~const bool dataType = msgId.catalog~~const bool dataType = false && msgId.catalog'
'c-order-dimension-counted-from-the-start~~python/dense.cpp~~if (work < dims.size()) work = dims.size() - 1 - work;~~'
'cummin-includes-nan~~src/driver/operations.hpp~~{CumOp::Min, "cummin", 1, false}~~{CumOp::Min, "cummin", 0, false}'
'complex-tie-reversed~~src/functors/complex_order.cpp~~return angleB > angleA;~~return angleB < angleA;'
'leak-when-imag-drop-fails~~src/driver/driver.cpp~~    vxFreeImagIfZero(result.get());
    if (plan.sparse)~~    vxArray_tag* raw = result.release();
    vxFreeImagIfZero(raw);
    result.reset(raw);
    if (plan.sparse)'
'duplicate-direction-as-wrong-flag~~src/gateways/arguments.cpp~~raiseCumError<Korvex::cumfun::duplicateDirection>~~raiseCumError<Korvex::cumfun::wrongFlag>'
'sparse-drops-zero-real-part~~standin/vx/vx.cpp~~++stored) {~~++stored) {
            if (source.classId == vxDOUBLE_CLASS && static_cast<const double*>(source.buffer.get())[stored * part / 8] == 0.0) continue;'
'logical-cumprod-stays-logical~~src/driver/operations.hpp~~{CumOp::Prod, "cumprod", 0, true}~~{CumOp::Prod, "cumprod", 0, false}'
'one-element-omit-copied~~src/driver/plan.cpp~~const bool oneElementIsCopy = !operation.logicalBecomesDouble || settings.nanFlag == 0;~~const bool oneElementIsCopy = true;'
'sparse-logical-scanned-as-logical~~src/driver/driver.cpp~~scan.classId = plan.resultClass;~~'
'options-case-sensitive~~src/gateways/arguments.cpp~~if (foldAscii(text[unit]) != foldAscii(word[unit]))~~if (text[unit] > 127 || text[unit] != word[unit])'
'dimension-2^63-accepted~~standin/mathcore/mathcore.cpp~~real < 9223372036854775808.0~~real <= 9223372036854775808.0'
'scans-into-callers-input~~src/driver/driver.cpp~~} else if (hasFlags(input, vx_flags::reusableTemp)) {~~} else if (true) {'
'kept-block-smaller-than-need~~standin/vx/vx.cpp~~const bool fits = block->capacity >= bytes && block->capacity / 2 <= bytes;~~const bool fits = block->capacity / 2 <= bytes;'
'kept-block-handed-out-twice~~standin/vx/vx.cpp~~blocks_.erase(best);~~(void)best;'
'dask-carry-dtype-by-identity~~python/tzcumfun_dask.cpp~~carry->dtype().equal(outType)~~carry->dtype().is(outType)'
'arity-inputs-checked-first~~src/gateways/gateways.cpp~~if (nlhs > 1) matrix~~if (nlhs > 1 && nrhs >= 1) matrix'
'legacy-hook-skipped~~src/gateways/errors.cpp~~matrix::detail::do_legacy_vx_error(error);~~'
'hypot-split-inexact~~src/functors/complex_order.cpp~~kSplitMask = ~Bits{0xffffffff}~~kSplitMask = ~Bits{0xffff}'
'past-last-result-aliases-input~~python/host_call.cpp~~bool shared = !standin::ownsDataAlone(result.get());
    for (const vxArray_tag* input : inputs)
        shared = shared || standin::sharesData(result.get(), input);~~bool shared = false;'
'fortran-input-written-through~~python/host_call.cpp~~    arg.array = arg.made.get();
    arg.owner = data->owner~~    standin::markReusableTemporary(arg.made.get());
    arg.array = arg.made.get();
    arg.owner = data->owner'
'gil-held-during-scan~~python/dense.cpp~~const GilRelease unlocked(~~const GilRelease unlocked(false && '
'reverse-starts-early~~src/traversal/contiguous.hpp~~in += count * dimLen;~~in += count * dimLen - 1;'
'int-product-wraps~~src/functors/prod.hpp~~if (__builtin_mul_overflow(prev, x, &product)) [[unlikely]] {~~if (__builtin_mul_overflow(prev, x, &product) && false) {'
'int-product-ignores-factor-sign~~src/functors/prod.hpp~~return (prev < 0) != (x < 0) ? kMin : kMax;~~return prev < 0 ? kMin : kMax;'
'recovery-skipped~~src/functors/prod.hpp~~if (!detail::isFinite(re) || !detail::isFinite(im)) complexMulRecover~~if (false) complexMulRecover'
'no-fp-settings~~src/traversal/contract.hpp~~task_group_context::fp_settings~~task_group_context::default_traits'
'reverse-left-over-vectors-misplaced~~src/traversal/contiguous.hpp~~scanVectors(false, in + single * dimLen,~~scanVectors(false, in + tiled * dimLen,'
'dask-carry-from-wrong-edge~~python/tzcumfun/dask.py~~return np.take(result, -1 if forward else 0, axis)~~return np.take(result, 0 if forward else -1, axis)'
'lane-sum-limit-ignores-sign~~src/functors/sum.hpp~~static_cast<Unsigned>(limit + (addend >> kTopBit));~~limit;'
'lane-product-keeps-wrapped~~src/functors/prod.hpp~~if (static_cast<Exact>(narrow) == product) return narrow;~~return narrow;'
'int-extremes-compared-through-double~~src/functors/minmax.hpp~~return Extreme::beyond(prev, x) ? x : prev; }~~return Extreme::beyond(double(prev), double(x)) ? x : prev; }'
'later-equal-maximum-wins~~src/functors/minmax.hpp~~return negation(atOrAbove(prev, x));~~return atOrAbove(x, prev);'
'steady-test-skips-last-pack~~src/functors/minmax.hpp~~elem < kSteadyBytes / sizeof(T);~~elem + kPackLanes<T> < kSteadyBytes / sizeof(T);'
'steady-reverse-block-shifted~~src/traversal/contiguous.hpp~~dimLen - done - kBlock;~~dimLen - done - kBlock + 1;'
'steady-block-written-one-short~~src/traversal/contiguous.hpp~~elem < start + kBlock; ++elem)~~elem + 1 < start + kBlock; ++elem)'
'scan-axis-counted-in-the-callers-order~~src/gateways/scan.cpp~~if (order[position] == axis) dim = position + 1;~~if (order[position] == axis) dim = order[position] + 1;'
'scan-in-place-across-types~~src/gateways/scan.cpp~~if (in.data != out.data || in.type != out.type) return false;~~if (in.data != out.data) return false;'
'scan-copy-steps-the-sources-way~~src/gateways/scan.cpp~~const std::ptrdiff_t toStep = rank == 0 ? 0 : toStrides[order[0]];~~const std::ptrdiff_t toStep = rank == 0 ? 0 : fromStrides[order[0]];'
'v3-steady-block-tests-any-lane~~src/functors/pack_wide.hpp~~return _mm256_movemask_epi8(bits) == -1;~~return _mm256_movemask_epi8(bits) != 0;'
'v4-steady-block-tests-any-lane~~src/functors/pack_wide.hpp~~return _mm512_movepi8_mask(bits) == ~__mmask64{0};~~return _mm512_movepi8_mask(bits) != 0;'
'baseline-object-built-for-avx2~~src/driver/cpu_level.cpp~~#include <atomic>~~#pragma GCC target("avx2")
#include <atomic>'
'tile-reverse-steps-forward~~src/traversal/tiles.hpp~~tile[kForward ? step : kLanes - 1 - step];~~tile[step];'
'tile-transposed-one-stage-short~~src/traversal/tiles.hpp~~std::make_index_sequence<__builtin_ctzll(kLanes)>{}~~std::make_index_sequence<__builtin_ctzll(kLanes) - 1>{}'
'tile-tail-from-the-first-running-values~~src/traversal/tiles.hpp~~    std::memcpy(lanes, &running, sizeof lanes);~~'
'v3-row-product-bias-halved~~src/functors/prod.hpp~~_mm256_set1_epi64x(0x80000000LL)~~_mm256_set1_epi64x(0x40000000LL)'
'v3-row-product-limit-ignores-signs~~src/functors/prod.hpp~~_mm256_srli_epi32(_mm256_xor_si256(a, b), 31)~~_mm256_setzero_si256()'
'v3-row-product-upper-half-of-odd-lanes-dropped~~src/functors/prod.hpp~~_mm256_andnot_si256(_mm256_set1_epi64x(0xffffffffLL), odd)~~_mm256_setzero_si256()'
'steady-tail-skipped~~src/traversal/contiguous.hpp~~    for (; done < dimLen; ++done) {~~    for (; done < dimLen && false; ++done) {'
)

# Replaces the first occurrence of the text; fails when the text is not there.
plant() {
    "$PYTHON" -c 'import sys; p, a, b = sys.argv[1:]; s = open(p).read(); assert a in s, "text not found"
open(p, "w").write(s.replace(a, b, 1))' "$@"
}

build() {
    nice cmake --build build/release --target gateway_tests unit_tests _tzcumfun _tzcumfun_dask >"$LOG" 2>&1
}

run_suites() {  # prints the first failing tests; fails when nothing failed
    local file=$1 failed=
    if [[ $file != python/* ]]; then
        nice ctest --preset release -j2 --timeout 300 >"$LOG" 2>&1 \
            || failed="C++ $(sed -n '/tests FAILED/,$ s/^[[:space:]]*[0-9]* - \(.*\) (.*/\1/p' "$LOG" | head -3 | paste -sd,)"
    fi
    if [[ -z $failed ]]; then
        PYTHONPATH=$ROOT/build/release/python timeout 900 nice "$PYTHON" -m pytest -x -q \
            -p no:cacheprovider -rfE python/tests >"$LOG" 2>&1 \
            || failed="py $(sed -n 's/^\(FAILED\|ERROR\) \([^ ]*\).*/\2/p' "$LOG" | head -3 | paste -sd,)"
    fi
    [[ -n $failed ]] && echo "$failed"
}

build || { echo "the unmodified tree does not build"; exit 2; }
for mutant in "${MUTANTS[@]}"; do
    IFS=$'\x1f' read -r -d '' name file text replacement < <(printf '%s\0' "${mutant//\~\~/$'\x1f'}")
    (($# == 0)) || [[ " $* " == *" $name "* ]] || continue
    cp "$file" "$LOG.orig"
    if ! plant "$file" "$text" "$replacement"; then
        echo "$name: NOT PLANTED"
    elif ! build; then
        echo "$name: does not build"
    elif caught=$(run_suites "$file"); then
        echo "$name: caught by $caught"
    else
        echo "$name: MISSED"
    fi
    cp "$LOG.orig" "$file"
done
build
rm -f "$LOG" "$LOG.orig"
