#pragma once

// Lists that are written by index after a resize: their elements are left unset rather than zeroed first,
// which for a long score's working lists is a few hundred kilobytes each time.

#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace nagisora {

template <class T>
struct UnsetElements : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UnsetElements<U>;
    };
    UnsetElements() = default;
    template <class U>
    UnsetElements(const UnsetElements<U>&) {}
    template <class U>
    void construct(U* at) {
        ::new (static_cast<void*>(at)) U; // default-initialised: left unset
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

template <class T>
using WrittenList = std::vector<T, UnsetElements<T>>;

} // namespace nagisora
