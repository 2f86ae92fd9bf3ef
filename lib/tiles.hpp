// What every instruction-set variant of the tiled kernels (tiles.inc)
// needs before its target region opens.  Included by the variant files.
#ifndef BSBASIS_TILES_HPP
#define BSBASIS_TILES_HPP

#include <utility>

#include "block_layout.hpp"
#include "column_table.hpp"
#include "common.hpp"
#include "dispatch.hpp"
#include "interval_search.hpp"
#include "simd.hpp"
#include "target.hpp"

#endif
