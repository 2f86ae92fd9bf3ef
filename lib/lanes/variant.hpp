// What every instruction-set variant of the kernels of fixed order
// (tiles.inc, derive_lanes.inc) needs before its target region opens.
// Included by the variant files.
#ifndef BSBASIS_TILES_HPP
#define BSBASIS_TILES_HPP

#include <utility>

#include "core/block_layout.hpp"
#include "lanes/cpu_features.hpp"
#include "core/column_table.hpp"
#include "core/common.hpp"
#include "lanes/dispatch.hpp"
#include "core/interval_search.hpp"
#include "lanes/simd.hpp"
#include "core/span_table.hpp"
#include "lanes/target.hpp"

#if BSBASIS_X86
#include <immintrin.h>
#endif

#endif
