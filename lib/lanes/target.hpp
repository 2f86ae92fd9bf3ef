// Regions of code compiled for one instruction set: every function defined
// between BSBASIS_TARGET_BEGIN("avx2") and BSBASIS_TARGET_END gets the
// target attribute, with GCC and clang alike, and nothing outside them.
#ifndef BSBASIS_TARGET_HPP
#define BSBASIS_TARGET_HPP

#define BSBASIS_STR(x) #x
#if defined(__clang__)
#define BSBASIS_TARGET_BEGIN(isa) \
  _Pragma(BSBASIS_STR(clang attribute push(__attribute__((target(isa))), apply_to = function)))
#define BSBASIS_TARGET_END _Pragma("clang attribute pop")
#else
#define BSBASIS_TARGET_BEGIN(isa) \
  _Pragma("GCC push_options") _Pragma(BSBASIS_STR(GCC target(isa)))
#define BSBASIS_TARGET_END _Pragma("GCC pop_options")
#endif

#endif
