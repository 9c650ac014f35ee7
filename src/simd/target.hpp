// Regions of a source file compiled for a wider instruction set than the library's x86-64
// baseline. A region opens with OMBRIX_TARGET_AVX2 or OMBRIX_TARGET_AVX512 and closes with
// OMBRIX_TARGET_END; the code inside may use those instructions and must run only where
// simd::active_path() allows them. Both regions include FMA, which every AVX2 processor the
// dispatcher accepts has (it checks); the build keeps contraction off, so fused operations
// appear only where the code asks for them. Regions may sit inside a namespace, so a file keeps one
// namespace block around its scalar and vector passes alike.
#pragma once

#define OMBRIX_TARGET_AVX2 \
    _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma\")") _Pragma("GCC diagnostic push")

// GCC 12's AVX-512 intrinsics start from _mm512_undefined_*(), which -Wmaybe-uninitialized flags.
#define OMBRIX_TARGET_AVX512                                                                           \
    _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma,avx512f,avx512bw,avx512dq,avx512vl\")") \
        _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")

// AVX-512 with VBMI's byte permutes (VPERMB, VPERMT2B): for passes that take their AVX-512 path
// only where simd::avx512_vbmi_supported() says the processor has them too.
#define OMBRIX_TARGET_AVX512_VBMI                                                                                 \
    _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma,avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi\")") \
        _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")

#define OMBRIX_TARGET_END _Pragma("GCC diagnostic pop") _Pragma("GCC pop_options")
