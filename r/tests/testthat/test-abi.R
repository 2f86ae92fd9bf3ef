# The numbers R/abi.R hands to the library against the header installed
# with the package: a code that drifts from bsbasis.h, or a mode, knot kind
# or boundary the header gains without R learning it, fails here.

# name = value for every `#define BSBASIS_<NAME> <int>` among `lines`, the
# value plain or parenthesised, negative or not, a comment after it or not.
header_numbers <- function(lines) {
  pattern <- paste0("^[[:space:]]*#[[:space:]]*define[[:space:]]+(BSBASIS_[A-Z0-9_]+)",
                    "[[:space:]]+(\\([[:space:]]*-?[0-9]+[[:space:]]*\\)|-?[0-9]+)",
                    "[[:space:]]*(/\\*.*)?$")
  hit <- grepl(pattern, lines)
  values <- gsub("[()[:space:]]", "", sub(pattern, "\\2", lines[hit]))
  stats::setNames(as.integer(values), sub(pattern, "\\1", lines[hit]))
}

installed_header <- function() {
  path <- system.file("include", "bsbasis.h", package = "bsbasis")
  skip_if(!nzchar(path),
          "bsbasis.h is not installed with the package: tools/vendor.sh copies it to inst/include")
  readLines(path)
}

# The BSBASIS_* objects of the package's namespace: R/abi.R's numbers.
abi_numbers <- function() {
  ns <- asNamespace("bsbasis")
  mget(ls(ns, pattern = "^BSBASIS_", all.names = TRUE), envir = ns)
}

test_that("integer defines are read, negatives in parentheses included", {
  lines <- c("#define BSBASIS_A 0", "#define BSBASIS_B (-7)       /* a comment */",
             "  #  define BSBASIS_C_2 12", "#define BSBASIS_D ( -3 )",
             "#define BSBASIS_S \"0.1.0\"", "#define BSBASIS_E \\", "#define BSBASIS_G",
             "#define OTHER 4", "int BSBASIS_F = 1;")
  expect_identical(header_numbers(lines),
                   c(BSBASIS_A = 0L, BSBASIS_B = -7L, BSBASIS_C_2 = 12L, BSBASIS_D = -3L))
})

test_that("every define of the installed header whose value is a number is read", {
  header <- installed_header()
  define <- "^[[:space:]]*#[[:space:]]*define[[:space:]]+(BSBASIS_[A-Z0-9_]+)[[:space:]]*(.*)$"
  lines <- grep(define, header, value = TRUE)
  value <- sub(define, "\\2", lines)
  numeric <- sub(define, "\\1", lines)[grepl("^\\(?[[:space:]]*-?[0-9]", value)]
  expect_gt(length(numeric), 0L)
  expect_identical(setdiff(numeric, names(header_numbers(header))), character(0))
  # the statuses are the negative ones, written in parentheses
  expect_true(any(header_numbers(header) < 0L))
})

test_that("every number R hands to the library is the header's", {
  header <- header_numbers(installed_header())
  abi <- abi_numbers()
  expect_gt(length(abi), 0)
  for (name in names(abi)) {
    value <- abi[[name]]
    expect_true(is.integer(value) && length(value) == 1L && !is.na(value), info = name)
    expect_true(name %in% names(header), info = paste(name, "is not defined in bsbasis.h"))
    if (name %in% names(header))
      expect_identical(value, header[[name]], info = paste(name, "differs from bsbasis.h"))
  }
})

test_that("every mode, knot kind and boundary of the header is known to R", {
  header <- header_numbers(installed_header())
  abi <- abi_numbers()
  ns <- asNamespace("bsbasis")
  tables <- list(EXTRAPOLATE = ns$modes, KNOTS = ns$knot_kinds, BOUNDARY = ns$knot_boundaries)
  for (family in names(tables)) {
    prefix <- paste0("BSBASIS_", family, "_")
    theirs <- header[startsWith(names(header), prefix)]
    expect_gt(length(theirs), 1L)
    missing <- setdiff(names(theirs), names(abi))
    expect_identical(missing, character(0), info = paste("missing from R/abi.R:", family))
    # the R names of the codes are the header's, in lower case, each with
    # the header's number
    named <- stats::setNames(unname(theirs),
                             tolower(substring(names(theirs), nchar(prefix) + 1L)))
    table <- tables[[family]]
    expect_identical(table[order(names(table))], named[order(names(named))], info = family)
  }
  # every rule a basis on knots may break has its name here: check_knots
  # says each in words
  rules <- header[startsWith(names(header), "BSBASIS_RULE_")]
  expect_gt(length(rules), 1L)
  expect_identical(setdiff(names(rules), names(abi)), character(0))
  # the choices of the entry points are the tables' names, default first
  expect_identical(eval(formals(design_matrix)$extrapolate), names(ns$modes))
  expect_identical(eval(formals(make_knots)$kind), names(ns$knot_kinds))
  expect_identical(eval(formals(make_knots)$boundary), names(ns$knot_boundaries))
})
