// The raster kernels, built twice from RasterKernels.inc: portable, and on x86-64 (GCC or Clang)
// for AVX2 with FMA through function target attributes, so that nothing built for AVX2 can run
// on a processor without it. Which set runs is chosen once, by what the processor offers.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "platform/d3d9/Fragment.h"
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
namespace wide {
#define KERNEL_TARGET __attribute__((target("avx2,fma")))
#define KERNEL_FMA_INTRINSICS 1
constexpr bool kHardwareFma = true;
#include "platform/d3d9/RasterKernels.inc"
#undef KERNEL_FMA_INTRINSICS
#undef KERNEL_TARGET
}  // namespace wide
#endif

const RasterKernels& PortableRasterKernels() {
    return portable::kKernels;
}

const RasterKernels* WideRasterKernels() {
#if defined(STANDIN_WIDE_RASTER_KERNELS)
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported ? &wide::kKernels : nullptr;
#else
    return nullptr;
#endif
}

namespace {

std::atomic<const RasterKernels*> gActive{nullptr};

}  // namespace

const RasterKernels& ActiveRasterKernels() {
    const RasterKernels* active = gActive.load(std::memory_order_relaxed);
    if (active == nullptr) {
        active = WideRasterKernels() != nullptr ? WideRasterKernels() : &PortableRasterKernels();
        gActive.store(active, std::memory_order_relaxed);
    }
    return *active;
}

}  // namespace standin::pipeline

namespace standin {

bool UseWideRasterKernels(bool wide) {
    const pipeline::RasterKernels* kernels = wide ? pipeline::WideRasterKernels() : &pipeline::PortableRasterKernels();
    if (kernels == nullptr) {
        pipeline::gActive.store(&pipeline::PortableRasterKernels(), std::memory_order_relaxed);
        return false;
    }
    pipeline::gActive.store(kernels, std::memory_order_relaxed);
    return true;
}

}  // namespace standin
