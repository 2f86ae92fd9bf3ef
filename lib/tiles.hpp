// What every instruction-set variant of the kernels of fixed order
// (tiles.inc, derive_lanes.inc) needs before its target region opens.
// Included by the variant files.
#ifndef BSBASIS_TILES_HPP
#define BSBASIS_TILES_HPP

#include <utility>

#include "block_layout.hpp"
#include "cpu_features.hpp"
#include "column_table.hpp"
#include "common.hpp"
#include "dispatch.hpp"
#include "interval_search.hpp"
#include "simd.hpp"
#include "span_table.hpp"
#include "target.hpp"

#if BSBASIS_X86
#include <immintrin.h>
#endif

#endif
