#include "filters/hdsimulation/x86/ScalerX86.h"

namespace halvard::hdsimulation::x86 {

void AddScalerKernels(std::vector<ScalerKernels>& table) {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse2")) {
    return;
  }
  table.push_back({"sse2", SimdLevel::Sse2, HorizontalPassSse2, VerticalPassSse2});
  if (__builtin_cpu_supports("avx2")) {
    table.push_back({"avx2", SimdLevel::Avx2, HorizontalPassAvx2, VerticalPassAvx2});
  }
}

}  // namespace halvard::hdsimulation::x86
