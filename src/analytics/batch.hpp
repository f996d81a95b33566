#pragma once
// The analytics over many elements at once: out[i] = f(args[i]...), every
// element to the bit what the scalar function returns for it. Each argument
// is a run of values or one value that every element shares.
#include <cstddef>

#include "analytics/option_type.hpp"

namespace tessel::analytics {

template <class T>
struct Strided {
    const T* data;
    std::size_t step;  // 1: a value per element; 0: one for all
    T operator[](std::size_t i) const { return data[i * step]; }
};

// The scalar function element by element. A function with a kernel of its
// own (batch.cpp) specialises Over.
template <auto F>
struct Over {
    template <class... A>
    static void run(std::size_t n, double* out, Strided<A>... in) {
        for (std::size_t i = 0; i < n; ++i) out[i] = F(in[i]...);
    }
};

}  // namespace tessel::analytics
