# The examples of splines' help pages ?bs, ?ns and ?predict.bs, read from
# the installed splines package and run unchanged, once with bs and ns
# bound to bsbasis's and once to splines': every top-level expression gives
# the same value (and its checks, stopifnot() included, pass).

# The example code of a help page of splines, parsed.
splines_examples <- function(topic) {
  file <- tempfile(fileext = ".R")
  on.exit(unlink(file))
  tools::Rd2ex(tools::Rd_db("splines")[[paste0(topic, ".Rd")]], file)
  parse(file, keep.source = FALSE)
}

# The value and the warnings of each expression, evaluated in order in an
# environment where bs and ns are `impl`'s (and, for splines, so are
# predict()'s methods for its bases); plots go nowhere.
run_examples <- function(exprs, impl) {
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  env <- new.env(parent = globalenv())
  if (impl == "bsbasis") {
    env$bs <- bsbasis::bs
    env$ns <- bsbasis::ns
  } else {
    env$bs <- splines::bs
    env$ns <- splines::ns
    env$predict <- function(object, ...) {
      if (inherits(object, "bs")) return(splines:::predict.bs(object, ...))
      if (inherits(object, "ns")) return(splines:::predict.ns(object, ...))
      stats::predict(object, ...)
    }
  }
  lapply(exprs, function(e) {
    warned <- character()
    value <- withCallingHandlers(eval(e, env), warning = function(w) {
      warned <<- c(warned, conditionMessage(w))
      invokeRestart("muffleWarning")
    })
    list(value = value, warnings = warned)
  })
}

# Two values of an example agree: numbers within tol of the larger entry
# of each row (or of the vector), everything else identical; a fit's
# summary by its coefficients and residuals.
expect_same_example <- function(a, b, info) {
  if (inherits(b, "summary.lm")) {
    expect_equal(coef(a), coef(b), tolerance = 1e-10, info = info)
    expect_equal(a$residuals, b$residuals, tolerance = 1e-10, info = info)
    return(invisible())
  }
  if (inherits(b, "lm")) {
    expect_equal(coef(a), coef(b), tolerance = 1e-10, info = info)
    return(invisible())
  }
  if (is.numeric(b)) {
    expect_identical(class(a), class(b), info = info)
    expect_identical(attributes(a)[setdiff(names(attributes(b)), "dim")],
                     attributes(b)[setdiff(names(attributes(b)), "dim")], info = info)
    m <- as.matrix(unclass(b))
    scale <- pmax(1, apply(abs(m), 1, max))
    expect_lte(max(0, abs(as.matrix(unclass(a)) - m) / scale), 1e-13, label = info)
    return(invisible())
  }
  if (is.language(b)) {  # predvars: list(weight, ns(height, knots = ...))
    ta <- as.list(a[[3L]])
    tb <- as.list(b[[3L]])
    expect_identical(a[1:2], b[1:2], info = info)
    expect_identical(ta[1:2], tb[1:2], info = info)
    expect_identical(names(ta), names(tb), info = info)
    expect_equal(lapply(ta[-(1:2)], eval), lapply(tb[-(1:2)], eval), tolerance = 1e-13,
                 info = info)
    return(invisible())
  }
  expect_identical(a, b, info = info)
}

for (topic in c("bs", "ns", "predict.bs")) {
  test_that(sprintf("the examples of ?%s give splines' values with bsbasis's bs and ns", topic), {
    exprs <- splines_examples(topic)
    expect_gt(length(exprs), 2L)
    ours <- run_examples(exprs, "bsbasis")
    theirs <- run_examples(exprs, "splines")
    for (k in seq_along(exprs)) {
      info <- paste(topic, deparse(exprs[[k]])[1L])
      expect_identical(ours[[k]]$warnings, theirs[[k]]$warnings, info = info)
      expect_same_example(ours[[k]]$value, theirs[[k]]$value, info)
    }
  })
}

test_that("the examples ran bsbasis's functions", {
  exprs <- splines_examples("bs")
  env <- new.env(parent = globalenv())
  env$bs <- function(...) stop("bs is called")
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  expect_error(for (e in exprs) eval(e, env), "bs is called")
  values <- lapply(run_examples(exprs, "bsbasis"), `[[`, "value")
  first_lines <- vapply(exprs, function(e) deparse(e)[1L], "")
  b <- values[[match("bs(women$height, df = 5)", first_lines)]]
  expect_identical(b, bsbasis::bs(datasets::women$height, df = 5))
})
