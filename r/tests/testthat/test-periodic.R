# Periodic basis from first principles: the ordinary basis on the breaks
# continued periodically, with column c + m folded onto column c.
# Needs ord >= 2.
periodic_reference <- function(x, u, ord, d) {
  m <- length(u) - 1L
  P <- u[m + 1] - u[1]
  ext <- c(u[(m - ord + 2):m] - P, u, u[2:ord] + P)[seq_len(m + 2 * ord - 1)]
  xw <- u[1] + (x - u[1]) %% P
  full <- splines::splineDesign(ext, xw, ord, d, outer.ok = TRUE)
  out <- matrix(0, length(x), m)
  for (c in seq_len(ncol(full))) {
    target <- (c - 1) %% m + 1
    out[, target] <- out[, target] + full[, c]
  }
  out
}

test_that("periodic_design_matrix on fixed breaks", {
  cases <- list(list(u = 0:5, ord = 4), list(u = c(0, 0.5, 1.25, 2, 3.5, 4), ord = 3),
                list(u = c(-1, 0, 2, 2.5, 6, 7, 9), ord = 4), list(u = c(0, 1, 3), ord = 2))
  for (cs in cases) {
    u <- cs$u
    x <- c(u, u[1] - 0.3, u[length(u)] + 0.6, seq(u[1], u[length(u)], length.out = 23),
           u[1] + 3 * (u[length(u)] - u[1]) + 0.1)
    for (d in 0:(cs$ord - 1)) {
      got <- periodic_design_matrix(x, u, cs$ord, d, sparse = FALSE)
      expect_close(got, periodic_reference(x, u, cs$ord, d), 1e-12)
    }
    expect_equal(rowSums(periodic_design_matrix(x, u, cs$ord, sparse = FALSE)), rep(1, length(x)), tolerance = 1e-14)
    s <- periodic_design_matrix(x, u, cs$ord)
    expect_s4_class(s, "dgCMatrix")
    expect_identical(as.matrix(s), periodic_design_matrix(x, u, cs$ord, sparse = FALSE))
  }
  na <- periodic_design_matrix(c(NA, 1), 0:5, sparse = FALSE)
  expect_true(all(is.na(na[1, ])))
  # too few breaks: the breaks are named, not ord
  expect_error(periodic_design_matrix(1, 0:3, ord = 4),
               "'breaks' has 4 values; ord = 4 needs at least ord + 1 = 5", fixed = TRUE)
  expect_error(periodic_design_matrix(1, c(0, 1, 1, 2, 3, 4)),
               "'breaks' must be strictly increasing: breaks[2] = 1, breaks[3] = 1", fixed = TRUE)
  expect_error(periodic_design_matrix(1, c(-1e308, 0, 1, 2, 1e308)),
               "the period of 'breaks' [-1e+308, 1e+308] overflows a double", fixed = TRUE)
  expect_error(periodic_design_matrix(1, c(0, 1, 2, 3, 1.7e308)), "overflows a double")
})

# The Python host's periodic design matrices on shared cases (written by
# tests/shared/make_periodic_cases.py, copied here when the sources are).
read_cases <- function(path) {
  lines <- strsplit(readLines(path), " ", fixed = TRUE)
  cases <- list()
  at <- 1L
  while (at <= length(lines)) {
    head <- as.integer(lines[[at]][-1])
    nx <- head[4]
    rows <- lapply(lines[at + 2L + seq_len(nx)], function(l) as.numeric(l[-1]))
    cases[[length(cases) + 1L]] <- list(
      ord = head[1], derivs = head[2], breaks = as.numeric(lines[[at + 1L]][-1]),
      x = as.numeric(lines[[at + 2L]][-1]), want = do.call(rbind, rows))
    at <- at + 3L + nx
  }
  cases
}

test_that("periodic_design_matrix equals the Python host's on shared cases", {
  path <- "periodic_cases.txt"
  skip_if_not(file.exists(path), "the shared cases were not copied with the sources")
  cases <- read_cases(path)
  expect_gte(length(cases), 5L)
  for (cs in cases) {
    got <- periodic_design_matrix(cs$x, cs$breaks, cs$ord, cs$derivs, sparse = FALSE)
    expect_equal(dim(got), dim(cs$want))
    expect_lte(max(abs(got - cs$want)), 1e-13 * max(1, abs(cs$want)))
  }
})
