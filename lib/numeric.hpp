// The numeric rules (numeric.inc) for the generic paths.
#ifndef BSBASIS_NUMERIC_HPP
#define BSBASIS_NUMERIC_HPP

#include "common.hpp"

namespace bsbasis {
#include "numeric.inc"
}  // namespace bsbasis

#endif
