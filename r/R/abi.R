# The numbers of the C ABI (include/bsbasis.h) that the R code hands to the
# library through src/r_host.cpp, stated here once under the header's own
# names; every other file takes them from here.  tests/testthat/test-abi.R
# holds each of them to the header installed with the package, and fails
# when the header defines a mode, knot kind, boundary or knot rule missing
# here.
# Statuses stay in r_host.cpp, which takes them from the header's macros.

# What an abscissa outside the base interval gets (bsbasis_design,
# bsbasis_normal_equations).
BSBASIS_EXTRAPOLATE_ERROR <- 0L
BSBASIS_EXTRAPOLATE_ZERO <- 1L
BSBASIS_EXTRAPOLATE_CONTINUE <- 2L
BSBASIS_EXTRAPOLATE_CONSTANT <- 3L
BSBASIS_EXTRAPOLATE_LINEAR <- 4L
BSBASIS_EXTRAPOLATE_PERIODIC <- 5L

# How bsbasis_make_knots places the base knots, and the knots beyond the ends.
BSBASIS_KNOTS_UNIFORM <- 0L
BSBASIS_KNOTS_QUANTILE <- 1L
BSBASIS_BOUNDARY_CLAMPED <- 0L
BSBASIS_BOUNDARY_EXTENDED <- 1L

# The rule a basis on knots breaks (bsbasis_check_knots), for the message
# that names it.
BSBASIS_RULE_NONE <- 0L
BSBASIS_RULE_ORDER <- 1L
BSBASIS_RULE_KNOT_COUNT <- 2L
BSBASIS_RULE_NULL_KNOTS <- 3L
BSBASIS_RULE_TOO_FEW <- 4L
BSBASIS_RULE_COLUMNS <- 5L
BSBASIS_RULE_NOT_FINITE <- 6L
BSBASIS_RULE_DECREASING <- 7L
BSBASIS_RULE_TOO_CLOSE <- 8L
BSBASIS_RULE_SPAN <- 9L
BSBASIS_RULE_EMPTY_BASE <- 10L

# The values the R arguments take, to the codes above: the choices the
# entry points offer, in the order of their formals (test-abi.R checks it).
modes <- c(error = BSBASIS_EXTRAPOLATE_ERROR, zero = BSBASIS_EXTRAPOLATE_ZERO,
           continue = BSBASIS_EXTRAPOLATE_CONTINUE, constant = BSBASIS_EXTRAPOLATE_CONSTANT,
           linear = BSBASIS_EXTRAPOLATE_LINEAR, periodic = BSBASIS_EXTRAPOLATE_PERIODIC)
knot_kinds <- c(uniform = BSBASIS_KNOTS_UNIFORM, quantile = BSBASIS_KNOTS_QUANTILE)
knot_boundaries <- c(clamped = BSBASIS_BOUNDARY_CLAMPED, extended = BSBASIS_BOUNDARY_EXTENDED)
