// Stand-in host array library: array headers, ownership, conversions, arity errors and hooks.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <new>
#include <numeric>
#include <string_view>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define STANDIN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STANDIN_ASAN 1
#endif
#endif
#ifdef STANDIN_ASAN
#include <sanitizer/asan_interface.h>
#endif

#include "driver/classes.hpp"
#include "host/tzfl.hpp"
#include "standin/standin.hpp"
#include "vx/array_private.hpp"

namespace matrix::error {
struct TooManyOutputs;
struct TooManyInputs;
struct minrhs;
}  // namespace matrix::error

namespace standin {
namespace {

using detail::HostPrivate;
using detail::privateOf;

std::atomic<long> gLiveArrays{0};
// Per thread, so that a thread arming a failure fails only its own calls, whatever other host
// threads are doing meanwhile.
thread_local long gFaultCountdown = 0;
std::atomic<long> gLegacyCalls{0};
std::mutex gLegacyMutex;
std::string gLastLegacyIdentifier;
std::mutex gDimsMutex;

// Every host allocation or conversion passes here first, so tests can fail any one of them.
void countFaultStep() {
    if (gFaultCountdown > 0 && --gFaultCountdown == 0) throw std::bad_alloc();
}

// Fresh 4 KiB pages cost about 10 microseconds each on first touch here, while a buffer backed
// by transparent huge pages costs a small fraction of that; large element buffers are therefore
// 2 MiB aligned and advised for huge pages, as numeric hosts and NumPy do.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugeThreshold = std::size_t{4} << 20;

// Freed large element buffers, their pages still mapped, kept for the next array that fits. Even
// on huge pages a fresh result costs as much again as the scan that fills it (the kernel zeroes
// every page on first touch), so a host that makes and frees results of one size over and over
// keeps them, as numeric hosts' memory managers do. The blocks held never exceed an eighth of
// the memory the process may use, the oldest going first; a larger block is never kept. An array
// takes the smallest held block that fits and is at most twice its need. TZCUMFUN_HOST_CACHE=0
// turns the cache off, and it is emptied at exit. Under AddressSanitizer a held block is poisoned,
// so a use after free is still caught.
class BlockCache {
  public:
    static BlockCache& instance() {
        // Never destroyed: arrays may be freed after static destruction, and then free at once.
        static auto* const cache = new BlockCache();
        return *cache;
    }

    // A held block of at least `bytes` (rounded to huge pages), or nullptr; its capacity in
    // `capacity`.
    void* take(std::size_t bytes, std::size_t& capacity) {
        const std::lock_guard<std::mutex> lock(mutex_);
        auto best = blocks_.end();
        for (auto block = blocks_.begin(); block != blocks_.end(); ++block) {
            const bool fits = block->capacity >= bytes && block->capacity / 2 <= bytes;
            if (fits && (best == blocks_.end() || block->capacity < best->capacity)) best = block;
        }
        if (best == blocks_.end()) return nullptr;
        void* data = best->data;
        capacity = best->capacity;
        held_ -= capacity;
        blocks_.erase(best);
        unpoison(data, capacity);
        return data;
    }

    // Keeps a freed block, making room by freeing the oldest, or frees it when it cannot stay.
    // Blocks are freed outside the lock: unmapping a large one takes a while.
    void give(void* data, std::size_t capacity) noexcept {
        while (data != nullptr) {
            Block victim{data, capacity};
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (enabled_ && capacity <= bound_ && held_ + capacity <= bound_) {
                    poison(data, capacity);
                    blocks_.push_back({data, capacity});  // within the reserved room
                    held_ += capacity;
                    return;
                }
                if (enabled_ && capacity <= bound_) {
                    victim = blocks_.front();
                    blocks_.erase(blocks_.begin());
                    held_ -= victim.capacity;
                } else {
                    data = nullptr;
                }
            }
            release(victim);
        }
    }

    // Off also empties it.
    void setEnabled(bool enabled) noexcept {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            enabled_ = enabled;
        }
        while (!enabled) {
            Block victim{};
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (blocks_.empty()) return;
                victim = blocks_.back();
                blocks_.pop_back();
                held_ -= victim.capacity;
            }
            release(victim);
        }
    }

    std::size_t held() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return held_;
    }

  private:
    struct Block {
        void* data;
        std::size_t capacity;
    };

    // The memory the process may use: physical memory, or its control group's limit when that
    // is lower, as in a container (version 2's memory.max, where "max" means none, reads as no
    // number; version 1 writes a huge number for none).
    static std::size_t usableMemory() {
        std::size_t bytes = static_cast<std::size_t>(sysconf(_SC_PHYS_PAGES)) *
                            static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        for (const char* path :
             {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"}) {
            std::ifstream file(path);
            unsigned long long limit = 0;
            if (file >> limit) bytes = std::min<std::size_t>(bytes, limit);
        }
        return bytes;
    }

    BlockCache() : bound_(usableMemory() / 8) {
        const char* setting = std::getenv("TZCUMFUN_HOST_CACHE");
        enabled_ = setting == nullptr || std::string_view(setting) != "0";
        // Every block is at least kHugeThreshold, so keeping one never allocates.
        blocks_.reserve(bound_ / kHugeThreshold + 1);
    }

    static void poison([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes) {
#ifdef STANDIN_ASAN
        __asan_poison_memory_region(data, bytes);
#endif
    }
    static void unpoison([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes) {
#ifdef STANDIN_ASAN
        __asan_unpoison_memory_region(data, bytes);
#endif
    }
    static void release(const Block& block) noexcept {
        unpoison(block.data, block.capacity);
        std::free(block.data);
    }

    std::mutex mutex_;
    std::vector<Block> blocks_;  // oldest first
    std::size_t held_ = 0;
    const std::size_t bound_;
    bool enabled_ = true;
};

// Empties the cache at exit; blocks freed later go straight back to the system.
struct CacheDrain {
    CacheDrain() { BlockCache::instance(); }
    ~CacheDrain() { BlockCache::instance().setEnabled(false); }
} gCacheDrain;

std::shared_ptr<void> allocateElements(std::size_t bytes) {
    if (bytes == 0) return {};
    if (bytes < kHugeThreshold) {
        void* memory = std::malloc(bytes);
        if (memory == nullptr) throw std::bad_alloc();
        return {memory, std::free};
    }
    std::size_t capacity = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = BlockCache::instance().take(capacity, capacity);
    if (memory == nullptr) {
        memory = std::aligned_alloc(kHugePage, capacity);
        if (memory == nullptr) throw std::bad_alloc();
        madvise(memory, capacity, MADV_HUGEPAGE);
    }
    return {memory, [capacity](void* block) { BlockCache::instance().give(block, capacity); }};
}

bool isNumericClass(vxClassID classId) {
    return classId >= vxDOUBLE_CLASS && classId <= vxUINT64_CLASS;
}

Dims canonicalDims(Dims dims) {
    while (dims.size() > 2 && dims.back() == 1)
        dims.pop_back();
    while (dims.size() < 2)
        dims.push_back(dims.empty() ? 0 : 1);
    return dims;
}

std::size_t product(const Dims& dims) {
    return std::accumulate(dims.begin(), dims.end(), std::size_t{1}, std::multiplies<>());
}

std::unique_ptr<HostPrivate> newPrivate(vxClassID classId, vxComplexity complexity,
                                        const Dims& dims) {
    auto priv = std::make_unique<HostPrivate>();
    priv->classId = classId;
    priv->complexity = complexity;
    priv->dims = canonicalDims(dims);
    return priv;
}

// Reads element `index` of a real array of any numeric or logical class as double.
double elementAsDouble(vxClassID classId, const void* data, std::size_t index) {
    return tzcumfun::visitElementClass(
        classId,
        [&]<class T>(tzcumfun::ElementClass<T> /*element*/) {
            // Logical bytes other than 0 and 1 still read as true.
            if constexpr (std::is_same_v<T, bool>) {
                return static_cast<const unsigned char*>(data)[index] != 0 ? 1.0 : 0.0;
            } else {
                return static_cast<double>(static_cast<const T*>(data)[index]);
            }
        },
        [] { return 0.0; });
}

template <class Error>
[[noreturn]] void throwHostError(const char* catalog, const char* key) {
    throw foundation::core::except::Exception<Error, std::exception, void>(
        resource_core::BaseMsgID{{}, catalog, key});
}

// Removes the owning handle's claim: one extra owner, or the array itself.
void releaseOwner(vxArray_tag* array) noexcept {
    std::atomic_ref<std::uint32_t> owners(array->extraOwners);
    std::uint32_t current = owners.load();
    while (current > 0) {
        if (owners.compare_exchange_weak(current, current - 1)) return;
    }
    matrix::destroyArray(array);
}

}  // namespace

namespace detail {

ArrayHandle makeHeader(std::unique_ptr<HostPrivate> priv, bool sparse) {
    auto header = std::make_unique<vxArray_tag>();
    const vxClassID classId = priv->classId;
    std::uint32_t flags = 0;
    if (isNumericClass(classId)) flags |= vx_flags::numeric;
    if (priv->complexity == vxCOMPLEX) flags |= vx_flags::complex;
    if (sparse) flags |= vx_flags::sparse;
    if (priv->dims.size() == 2) {
        flags |= vx_flags::inlineDims;
        header->inlineDims[0] = priv->dims[0];
        header->inlineDims[1] = priv->dims[1];
    } else {
        header->dimList.count = priv->dims.size();
        header->dimList.lengths = priv->dims.data();
    }
    header->classId = classId > vxFUNCTION_CLASS ? static_cast<vxClassID>(0x7fff) : classId;
    header->flags = flags;
    header->data = priv->buffer.get();
    header->extraOwners = 0;
    header->hostPrivate = priv.release();
    ++gLiveArrays;
    return ArrayHandle(header.release());
}

}  // namespace detail

std::size_t elementBytes(vxClassID classId, vxComplexity complexity) {
    if (classId == vxCHAR_CLASS) return 2;  // UTF-16 code units
    return tzcumfun::elementBytes(classId, complexity == vxCOMPLEX);
}

ArrayHandle makeArray(vxClassID classId, const Dims& dims, vxComplexity complexity) {
    auto priv = newPrivate(classId, complexity, dims);
    const std::size_t bytes = product(priv->dims) * elementBytes(classId, complexity);
    priv->buffer = allocateElements(bytes);
    if (bytes != 0) std::memset(priv->buffer.get(), 0, bytes);
    return detail::makeHeader(std::move(priv), false);
}

ArrayHandle makeBorrowed(vxClassID classId, const Dims& dims, vxComplexity complexity, void* data) {
    auto priv = newPrivate(classId, complexity, dims);
    priv->buffer = std::shared_ptr<void>(data, [](void*) {});
    priv->foreign = true;
    return detail::makeHeader(std::move(priv), false);
}

ArrayHandle makeSparse(vxClassID classId, vxComplexity complexity, std::size_t rows,
                       std::size_t cols, const std::vector<std::size_t>& colStarts,
                       const std::vector<std::size_t>& rowIndices, const void* values) {
    auto priv = newPrivate(classId, complexity, {rows, cols});
    priv->colStarts = std::make_shared<const std::vector<std::size_t>>(colStarts);
    priv->rowIndices = std::make_shared<const std::vector<std::size_t>>(rowIndices);
    const std::size_t bytes = rowIndices.size() * elementBytes(classId, complexity);
    priv->buffer = allocateElements(bytes);
    if (bytes != 0) std::memcpy(priv->buffer.get(), values, bytes);
    return detail::makeHeader(std::move(priv), true);
}

ArrayHandle makeChar(std::u16string_view text, const Dims& dims) {
    ArrayHandle array = makeArray(vxCHAR_CLASS, dims.empty() ? Dims{1, text.size()} : dims);
    const std::size_t units = std::min(text.size(), numel(array.get()));
    if (units != 0) std::memcpy(array->data, text.data(), units * 2);
    return array;
}

ArrayHandle makeString(const std::vector<std::optional<std::u16string>>& values, const Dims& dims) {
    std::vector<Tessaly::String::StringElement> elements;
    elements.reserve(values.size());
    for (const auto& value : values) {
        elements.push_back({!value.has_value(), value.value_or(std::u16string())});
    }
    auto priv = newPrivate(kStringClass, vxREAL, dims.empty() ? Dims{1, values.size()} : dims);
    priv->strings = std::make_shared<const Tessaly::String::StringArray>(std::move(elements));
    return detail::makeHeader(std::move(priv), false);
}

void markReusableTemporary(vxArray_tag* array) {
    array->flags |= vx_flags::reusableTemp;
}

void storeClassIdIndirectly(vxArray_tag* array) {
    array->classId = static_cast<vxClassID>(0x7fff);
}

void deferDimensions(vxArray_tag* array) {
    array->flags = (array->flags | vx_flags::opaqueDims) & ~vx_flags::inlineDims;
    array->dimList.count = 0;
    array->dimList.lengths = nullptr;
}

vxClassID classOf(const vxArray_tag* array) {
    return privateOf(array).classId;
}
bool isComplex(const vxArray_tag* array) {
    return privateOf(array).complexity == vxCOMPLEX;
}
bool isSparse(const vxArray_tag* array) {
    // Other threads may be completing the header's dimensions, which rewrites the flags word.
    return (std::atomic_ref<const std::uint32_t>(array->flags).load(std::memory_order_acquire) &
            vx_flags::sparse) != 0;
}
Dims dimsOf(const vxArray_tag* array) {
    return privateOf(array).dims;
}
std::size_t numel(const vxArray_tag* array) {
    return product(privateOf(array).dims);
}

SparseParts sparseOf(const vxArray_tag* array) {
    const HostPrivate& priv = privateOf(array);
    return {priv.dims[0], priv.dims[1], *priv.colStarts, *priv.rowIndices, priv.buffer.get()};
}

bool sharesData(const vxArray_tag* first, const vxArray_tag* second) {
    return first->data != nullptr && first->data == second->data;
}

bool ownsDataAlone(const vxArray_tag* array) {
    const HostPrivate& priv = privateOf(array);
    return !priv.foreign && priv.buffer.use_count() <= 1;
}

long liveArrays() {
    return gLiveArrays.load();
}
long legacyHookCalls() {
    return gLegacyCalls.load();
}
std::string lastLegacyIdentifier() {
    const std::lock_guard<std::mutex> lock(gLegacyMutex);
    return gLastLegacyIdentifier;
}
void setHostCache(bool enabled) {
    BlockCache::instance().setEnabled(enabled);
}
std::size_t hostCacheBytes() {
    return BlockCache::instance().held();
}
void failAfter(long n) {
    gFaultCountdown = n;
}
long faultCountdown() {
    return gFaultCountdown;
}

}  // namespace standin

using standin::detail::HostPrivate;
using standin::detail::privateOf;

vxClassID vxArray_tag::_get_class_id_non_trivial() const {
    return privateOf(this).classId;
}

void vxArray_tag::_complete_opaque_dimensions() const {
    const std::lock_guard<std::mutex> lock(standin::gDimsMutex);
    std::atomic_ref<const std::uint32_t> published(flags);
    if ((published.load(std::memory_order_acquire) & vx_flags::opaqueDims) == 0) return;
    auto* self = const_cast<vxArray_tag*>(this);
    const auto& dims = privateOf(this).dims;
    std::uint32_t completed = flags & ~vx_flags::opaqueDims;
    if (dims.size() == 2) {
        self->inlineDims[0] = dims[0];
        self->inlineDims[1] = dims[1];
        completed |= vx_flags::inlineDims;
    } else {
        self->dimList.count = dims.size();
        self->dimList.lengths = const_cast<std::size_t*>(dims.data());
    }
    // Readers that see the flag cleared must also see the dimensions written above.
    std::atomic_ref<std::uint32_t>(self->flags).store(completed, std::memory_order_release);
}

void intrusive_ptr_add_ref(vxArray_tag* array) {
    std::atomic_ref<std::uint32_t>(array->extraOwners).fetch_add(1);
}

void intrusive_ptr_release(vxArray_tag* array) {
    standin::releaseOwner(array);
}

namespace matrix {

void destroyArray(vxArray_tag* array) noexcept {
    delete static_cast<HostPrivate*>(array->hostPrivate);
    delete array;
    --standin::gLiveArrays;
}

void detail::vxDestroy_deleter::operator()(vxArray_tag* array) const noexcept {
    standin::releaseOwner(array);
}

namespace detail {

void error_maxlhs() {
    standin::throwHostError<matrix::error::TooManyOutputs>("Korvex", "TooManyOutputs");
}
void error_maxrhs() {
    standin::throwHostError<matrix::error::TooManyInputs>("Korvex", "TooManyInputs");
}
void error_minrhs() {
    standin::throwHostError<matrix::error::minrhs>("Korvex", "minrhs");
}

ArrayHandle do_shared_copy(const vxArray_tag* array) {
    standin::countFaultStep();
    array->_complete_opaque_dimensions();
    auto priv = std::make_unique<HostPrivate>(privateOf(array));
    return standin::detail::makeHeader(std::move(priv), standin::isSparse(array));
}

ArrayHandle do_create_uninitnumeric(std::size_t ndims, const std::size_t* dims, vxClassID classId,
                                    vxComplexity complexity) {
    standin::countFaultStep();
    auto priv = standin::newPrivate(classId, complexity, standin::Dims(dims, dims + ndims));
    priv->buffer = standin::allocateElements(standin::product(priv->dims) *
                                             standin::elementBytes(classId, complexity));
    return standin::detail::makeHeader(std::move(priv), false);
}

void do_legacy_vx_error(const foundation::core::except::IUserException& error) {
    ++standin::gLegacyCalls;
    const std::lock_guard<std::mutex> lock(standin::gLegacyMutex);
    standin::gLastLegacyIdentifier = error.GetIdentifier();
}

namespace noninlined::vx_array_api {

bool vxIsEmpty(const vxArray_tag* array) {
    return standin::numel(array) == 0;
}

void vxFreeImagIfZero(vxArray_tag* array) {
    HostPrivate& priv = privateOf(array);
    if (priv.complexity != vxCOMPLEX) return;
    standin::countFaultStep();
    const std::size_t count =
        standin::isSparse(array) ? priv.rowIndices->size() : standin::numel(array);
    const std::size_t part = standin::elementBytes(priv.classId, vxREAL);
    const auto* bytes = static_cast<const unsigned char*>(priv.buffer.get());
    for (std::size_t elem = 0; elem < count; ++elem) {
        const unsigned char* imag = bytes + (2 * elem + 1) * part;
        const bool zero = part == 8 ? *reinterpret_cast<const double*>(imag) == 0.0
                                    : *reinterpret_cast<const float*>(imag) == 0.0F;
        if (!zero) return;
    }
    std::shared_ptr<void> real = standin::allocateElements(count * part);
    for (std::size_t elem = 0; elem < count; ++elem) {
        std::memcpy(static_cast<unsigned char*>(real.get()) + elem * part, bytes + 2 * elem * part,
                    part);
    }
    priv.buffer = std::move(real);
    priv.foreign = false;
    priv.complexity = vxREAL;
    array->data = priv.buffer.get();
    array->flags &= ~vx_flags::complex;
}

}  // namespace noninlined::vx_array_api
}  // namespace detail

tzboost::intrusive_ptr<vxArray_tag> convert_if_needed(const vxArray_tag* array, vxClassID classId) {
    standin::countFaultStep();
    auto* self = const_cast<vxArray_tag*>(array);
    const HostPrivate& source = privateOf(array);
    if (source.classId == classId) return tzboost::intrusive_ptr<vxArray_tag>(self);
    // The stand-in converts real data to double, the only conversion its callers ask for.
    const bool sparse = standin::isSparse(array);
    const std::size_t count = sparse ? source.rowIndices->size() : standin::numel(array);
    auto priv = std::make_unique<HostPrivate>();
    priv->classId = classId;
    priv->dims = source.dims;
    priv->colStarts = source.colStarts;
    priv->rowIndices = source.rowIndices;
    priv->buffer = standin::allocateElements(count * sizeof(double));
    auto* out = static_cast<double*>(priv->buffer.get());
    for (std::size_t elem = 0; elem < count; ++elem) {
        out[elem] = standin::elementAsDouble(source.classId, source.buffer.get(), elem);
    }
    return tzboost::intrusive_ptr<vxArray_tag>(
        standin::detail::makeHeader(std::move(priv), sparse).release(), false);
}

tzboost::intrusive_ptr<vxArray_tag> convert_to_full_if_needed(const vxArray_tag* array) {
    standin::countFaultStep();
    auto* self = const_cast<vxArray_tag*>(array);
    if (!standin::isSparse(array)) return tzboost::intrusive_ptr<vxArray_tag>(self);
    const HostPrivate& source = privateOf(array);
    const std::size_t part = standin::elementBytes(source.classId, source.complexity);
    auto priv = standin::newPrivate(source.classId, source.complexity, source.dims);
    const std::size_t rows = source.dims[0];
    const std::size_t bytes = standin::product(priv->dims) * part;
    priv->buffer = standin::allocateElements(bytes);
    auto* out = static_cast<unsigned char*>(priv->buffer.get());
    if (bytes != 0) std::memset(out, 0, bytes);
    const auto& starts = *source.colStarts;
    const auto& rowIndices = *source.rowIndices;
    for (std::size_t col = 0; col + 1 < starts.size(); ++col) {
        for (std::size_t stored = starts[col]; stored < starts[col + 1]; ++stored) {
            std::memcpy(out + (col * rows + rowIndices[stored]) * part,
                        static_cast<const unsigned char*>(source.buffer.get()) + stored * part,
                        part);
        }
    }
    return tzboost::intrusive_ptr<vxArray_tag>(
        standin::detail::makeHeader(std::move(priv), false).release(), false);
}

ArrayHandle convert_to_sparse_if_needed(ArrayHandle array) {
    standin::countFaultStep();
    const HostPrivate& source = privateOf(array.get());
    const bool storable = source.classId == vxDOUBLE_CLASS || source.classId == vxLOGICAL_CLASS;
    if (standin::isSparse(array.get()) || !storable || source.dims.size() != 2) return array;
    const std::size_t rows = source.dims[0];
    const std::size_t cols = source.dims[1];
    const std::size_t part = standin::elementBytes(source.classId, source.complexity);
    const auto* in = static_cast<const unsigned char*>(source.buffer.get());
    auto isZeroPart = [&](const unsigned char* p) {
        return source.classId == vxLOGICAL_CLASS ? *p == 0
                                                 : *reinterpret_cast<const double*>(p) == 0.0;
    };
    std::vector<std::size_t> starts{0};
    std::vector<std::size_t> rowIndices;
    std::vector<unsigned char> values;
    for (std::size_t col = 0; col < cols; ++col) {
        for (std::size_t row = 0; row < rows; ++row) {
            const unsigned char* elem = in + (col * rows + row) * part;
            const bool zero =
                isZeroPart(elem) && (source.complexity == vxREAL || isZeroPart(elem + part / 2));
            if (zero) continue;
            rowIndices.push_back(row);
            values.insert(values.end(), elem, elem + part);
        }
        starts.push_back(rowIndices.size());
    }
    return standin::makeSparse(source.classId, source.complexity, rows, cols, starts, rowIndices,
                               values.data());
}

}  // namespace matrix
