// The element classes the operations take: each host class with the C type its elements are.
#pragma once

#include <array>
#include <cstddef>
#include <type_traits>

#include "host/vx.hpp"

namespace tzcumfun {

template <class T>
struct ElementClass {
    using type = T;
};

// The one place that maps a host class to its element type: calls `visit(ElementClass<T>{})`
// for the class, or `otherwise()` for a class no operation takes (text, cells, structs). Logical
// is one byte like uint8, so a class, never a C type, decides.
template <class Visit, class Otherwise>
constexpr decltype(auto) visitElementClass(vxClassID classId, Visit&& visit,
                                           Otherwise&& otherwise) {
    switch (classId) {
        case vxLOGICAL_CLASS:
            return visit(ElementClass<bool>{});
        case vxDOUBLE_CLASS:
            return visit(ElementClass<double>{});
        case vxSINGLE_CLASS:
            return visit(ElementClass<float>{});
        case vxINT8_CLASS:
            return visit(ElementClass<signed char>{});
        case vxUINT8_CLASS:
            return visit(ElementClass<unsigned char>{});
        case vxINT16_CLASS:
            return visit(ElementClass<short>{});
        case vxUINT16_CLASS:
            return visit(ElementClass<unsigned short>{});
        case vxINT32_CLASS:
            return visit(ElementClass<int>{});
        case vxUINT32_CLASS:
            return visit(ElementClass<unsigned int>{});
        case vxINT64_CLASS:
            return visit(ElementClass<long long>{});
        case vxUINT64_CLASS:
            return visit(ElementClass<unsigned long long>{});
        default:
            return otherwise();
    }
}

// Every class the operations take, in the host's numbering.
inline constexpr std::array<vxClassID, 11> kElementClasses{
    vxLOGICAL_CLASS, vxDOUBLE_CLASS, vxSINGLE_CLASS, vxINT8_CLASS,  vxUINT8_CLASS, vxINT16_CLASS,
    vxUINT16_CLASS,  vxINT32_CLASS,  vxUINT32_CLASS, vxINT64_CLASS, vxUINT64_CLASS};

// The reverse direction, for code that starts from a C type (tests, the typed API), read off the
// same switch.
template <class T>
consteval vxClassID classOfElement() {
    for (const vxClassID classId : kElementClasses) {
        const bool holds = visitElementClass(
            classId, []<class U>(ElementClass<U>) { return std::is_same_v<U, T>; },
            [] { return false; });
        if (holds) return classId;
    }
    throw "no host class holds this type";  // not a constant expression: a compile-time error
}

// Bytes of one element of `classId`, twice as many for complex data; 0 for a class the
// operations do not take.
inline std::size_t elementBytes(vxClassID classId, bool complex) {
    return visitElementClass(
        classId, [complex]<class T>(ElementClass<T>) { return sizeof(T) * (complex ? 2 : 1); },
        [] { return std::size_t{0}; });
}

}  // namespace tzcumfun
