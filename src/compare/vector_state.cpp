#include "compare/vector_state.h"

namespace kelpie {

void ClearUpperVectorState() {
#if defined(__x86_64__)
  static const bool hasAvx = __builtin_cpu_supports("avx");
  if (hasAvx) asm volatile("vzeroupper");
#endif
}

}  // namespace kelpie
