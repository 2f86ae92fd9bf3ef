# Random knots: clamped or not, with repeated interior knots now and then.
random_knots <- function(ord, n_inner, clamped) {
  inner <- sort(round(runif(n_inner, 0, 10), sample(c(1, 8), 1)))
  if (clamped) return(c(rep(0, ord), inner, rep(10, ord)))
  sort(c(runif(ord, -2, 0), inner, runif(ord, 10, 12)))
}

# |a - b| <= tol, relative to the largest entry of b's row when that
# exceeds 1 (derivatives grow with the order and cancel within a row).
expect_close <- function(a, b, tol) {
  a <- as.matrix(a)
  b <- as.matrix(b)
  expect_equal(dim(a), dim(b))
  scale <- pmax(1, apply(abs(b), 1, max))
  err <- max(0, abs(a - b) / scale)
  expect_lte(err, tol)
}
