// The numeric rules (numeric.inc) for the generic paths.
#ifndef BSBASIS_NUMERIC_HPP
#define BSBASIS_NUMERIC_HPP

#include "core/common.hpp"

namespace bsbasis {
#include "core/numeric.inc"
}  // namespace bsbasis

#endif
