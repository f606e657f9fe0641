// The raster kernels, built from RasterKernels.inc once portable and, on x86-64 (GCC or Clang),
// twice more through function target attributes: for AVX2 with FMA, and for the same with
// AVX-512's mask registers and instructions, whose narrow triangles take sixteen lanes in one
// 512-bit register. Nothing built for a wider unit can run on a processor without it: the sets
// offered are chosen once, by what the processor (and its operating system) supports.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "platform/d3d9/Fragment.h"
#include "platform/d3d9/RasterQueue.h"
#include "platform/d3d9/Standin.h"

#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#define STANDIN_WIDE_RASTER_KERNELS 1
#include <immintrin.h>
#endif

namespace standin::pipeline {

namespace portable {
#define KERNEL_TARGET
constexpr bool kHardwareFma = false;  // std::fma would be a library call
#include "platform/d3d9/RasterKernels.inc"
#undef KERNEL_TARGET
}  // namespace portable

#if defined(STANDIN_WIDE_RASTER_KERNELS)
#define KERNEL_FMA_INTRINSICS 1
namespace avx2 {
#define KERNEL_TARGET __attribute__((target("avx2,fma")))
constexpr bool kHardwareFma = true;
#include "platform/d3d9/RasterKernels.inc"
#undef KERNEL_TARGET
}  // namespace avx2

// GCC 12 warns that the 512-bit intrinsics' undefined sources may be used uninitialized (a false
// positive: its bug 105593, mended in GCC 13).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
namespace avx512 {
#define KERNEL_TARGET __attribute__((target("avx2,fma,avx512f,avx512vl,avx512bw,avx512dq")))
#define KERNEL_WIDE_GROUPS 1
constexpr bool kHardwareFma = true;
#include "platform/d3d9/RasterKernels.inc"
#undef KERNEL_WIDE_GROUPS
#undef KERNEL_TARGET
}  // namespace avx512
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#undef KERNEL_FMA_INTRINSICS
#endif

const std::vector<NamedRasterKernels>& OfferedRasterKernels() {
    static const std::vector<NamedRasterKernels> offered = [] {
        std::vector<NamedRasterKernels> sets = {{"portable", &portable::kKernels}};
#if defined(STANDIN_WIDE_RASTER_KERNELS)
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
            sets.push_back({"avx2", &avx2::kKernels});
            if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq")) {
                sets.push_back({"avx512", &avx512::kKernels});
            }
        }
#endif
        return sets;
    }();
    return offered;
}

namespace {

std::atomic<const RasterKernels*> gActive{nullptr};

}  // namespace

const RasterKernels& ActiveRasterKernels() {
    const RasterKernels* active = gActive.load(std::memory_order_relaxed);
    if (active == nullptr) {
        active = OfferedRasterKernels().back().kernels;
        gActive.store(active, std::memory_order_relaxed);
    }
    return *active;
}

}  // namespace standin::pipeline

namespace standin {

std::vector<std::string> RasterKernelSets() {
    std::vector<std::string> names;
    for (const pipeline::NamedRasterKernels& set : pipeline::OfferedRasterKernels()) {
        names.emplace_back(set.name);
    }
    return names;
}

bool UseRasterKernels(std::string_view name) {
    const auto& offered = pipeline::OfferedRasterKernels();
    if (name.empty()) {
        pipeline::gActive.store(offered.back().kernels, std::memory_order_relaxed);
        return true;
    }
    const auto set = std::find_if(offered.begin(), offered.end(),
                                  [name](const pipeline::NamedRasterKernels& named) { return named.name == name; });
    if (set == offered.end()) {
        return false;
    }
    pipeline::gActive.store(set->kernels, std::memory_order_relaxed);
    return true;
}

}  // namespace standin
