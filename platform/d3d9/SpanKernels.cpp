// The span kernels, built twice from SpanKernels.inc: portable, and on x86-64 (GCC or Clang)
// for AVX2 with FMA through function target attributes, so that nothing built for AVX2 can run
// on a processor without it. Which set runs is chosen once, by what the processor offers.
#include <algorithm>
#include <atomic>

#include "platform/d3d9/Fragment.h"
#include "platform/d3d9/Standin.h"

#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#define STANDIN_WIDE_SPAN_KERNELS 1
#endif

namespace standin::pipeline {

namespace portable {
#define SPAN_TARGET
#include "platform/d3d9/SpanKernels.inc"
#undef SPAN_TARGET
}  // namespace portable

#if defined(STANDIN_WIDE_SPAN_KERNELS)
namespace wide {
#define SPAN_TARGET __attribute__((target("avx2,fma")))
#include "platform/d3d9/SpanKernels.inc"
#undef SPAN_TARGET
}  // namespace wide
#endif

const SpanKernels& PortableSpanKernels() {
    return portable::kKernels;
}

const SpanKernels* WideSpanKernels() {
#if defined(STANDIN_WIDE_SPAN_KERNELS)
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported ? &wide::kKernels : nullptr;
#else
    return nullptr;
#endif
}

namespace {

std::atomic<const SpanKernels*> gActive{nullptr};

}  // namespace

const SpanKernels& ActiveSpanKernels() {
    const SpanKernels* active = gActive.load(std::memory_order_relaxed);
    if (active == nullptr) {
        active = WideSpanKernels() != nullptr ? WideSpanKernels() : &PortableSpanKernels();
        gActive.store(active, std::memory_order_relaxed);
    }
    return *active;
}

}  // namespace standin::pipeline

namespace standin {

bool UseWideSpanKernels(bool wide) {
    const pipeline::SpanKernels* kernels = wide ? pipeline::WideSpanKernels() : &pipeline::PortableSpanKernels();
    if (kernels == nullptr) {
        pipeline::gActive.store(&pipeline::PortableSpanKernels(), std::memory_order_relaxed);
        return false;
    }
    pipeline::gActive.store(kernels, std::memory_order_relaxed);
    return true;
}

}  // namespace standin
