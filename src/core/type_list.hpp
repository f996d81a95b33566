#pragma once
// A list of types, for tables that must name each of a family once.
#include <cstddef>
#include <type_traits>

namespace tessel {

template <class... T>
struct TypeList {
    static constexpr std::size_t size = sizeof...(T);

    // U's position in the list; `size` when absent.
    template <class U>
    static constexpr std::size_t index_of = [] {
        std::size_t i = 0;
        const bool found = ((std::is_same_v<U, T> || (++i, false)) || ...);
        return found ? i : size;
    }();

    // Template<T...>, for example a variant of every type.
    template <template <class...> class Template>
    using apply = Template<T...>;
};

}  // namespace tessel
