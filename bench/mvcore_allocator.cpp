// Cost of one Alloc/Free pair through the library allocator (header, category accounting in the
// performance monitor, default allocator) against a plain malloc/free pair of the same size.
#include "Marvane/Allocator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

template <class Body> double NanosecondsPerPair(int pairs, Body body) {
    const auto start = std::chrono::steady_clock::now();
    body(pairs);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() / pairs;
}

// Keeps the compiler from pairing up and deleting malloc/free.
inline void Escape(void* p) {
    asm volatile("" : : "g"(p) : "memory");
}

} // namespace

int main(int argc, char** argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 5000000;
    const Marvane::ContextInfo context = MARVANE_CONTEXT_INFO;
    Marvane::Allocator* allocator = Marvane::GetAllocator();
    for (unsigned size : {16u, 64u, 256u, 4096u}) {
        double best[2] = {1e30, 1e30};
        for (int repeat = 0; repeat < 5; ++repeat) {
            const double plain = NanosecondsPerPair(pairs, [size](int n) {
                for (int i = 0; i < n; ++i) {
                    auto* p = static_cast<unsigned char*>(std::malloc(size));
                    p[0] = static_cast<unsigned char>(i);
                    Escape(p);
                    std::free(p);
                }
            });
            const double library = NanosecondsPerPair(pairs, [&](int n) {
                for (int i = 0; i < n; ++i) {
                    auto* p = static_cast<unsigned char*>(
                        allocator->Alloc(size, Marvane::AllocationCategory::Generic, context));
                    p[0] = static_cast<unsigned char>(i);
                    Escape(p);
                    allocator->Free(p, context);
                }
            });
            best[0] = plain < best[0] ? plain : best[0];
            best[1] = library < best[1] ? library : best[1];
        }
        std::printf("size %5u: malloc/free %6.1f ns, Alloc/Free %6.1f ns, ratio %.2f\n", size, best[0],
                    best[1], best[1] / best[0]);
    }
    return 0;
}
