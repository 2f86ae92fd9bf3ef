# Prints, as exact hex floats, what the R package computes with every part
# of the library; tests/preload/run_r.sh runs it with and without an object
# that interposes the library's exported names, and the two must agree.
library(bsbasis)
hex <- function(label, v) cat(label, sprintf("%a", as.numeric(v)), "\n")
set.seed(3)
knots <- c(rep(0, 4), sort(runif(7)), rep(1, 4))
x <- runif(3000, -0.2, 1.2)
inside <- pmin(pmax(x, 0), 1)
for (mode in c("zero", "continue", "constant", "linear", "periodic"))
  for (d in c(0, 2)) {
    m <- design_matrix(x, knots, ord = 4, derivs = d, extrapolate = mode)
    hex(paste(mode, d), m@x)
  }
hex("splineDesign", splineDesign(knots, inside, ord = 4, derivs = rep(0:1, 1500)))
hex("bs", splines::bs(inside, df = 7))
hex("periodic", periodic_design_matrix(x, seq(0, 1, length.out = 8), ord = 3)@x)
hex("difference", difference_penalty(11, order = 2))
hex("derivative", derivative_penalty(knots, ord = 4, m = 2))
hex("knots", make_knots(x, 9, ord = 4, kind = "quantile"))
ne <- normal_equations(inside, knots, ord = 4, y = sin(6 * inside), weights = 1 + inside)
hex("gram", ne$gram)
hex("rhs", ne$rhs)
hex("sums", c(ne$yty, ne$sum_weights, ne$count))
