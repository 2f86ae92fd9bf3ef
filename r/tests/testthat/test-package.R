test_that("the package is under BSD-3-Clause, with the LICENSE R's template asks for", {
  expect_identical(utils::packageDescription("bsbasis")$License, "BSD_3_clause + file LICENSE")
  path <- system.file("LICENSE", package = "bsbasis")
  expect_true(nzchar(path))
  fields <- read.dcf(path)
  expect_identical(colnames(fields), c("YEAR", "COPYRIGHT HOLDER", "ORGANIZATION"))
  expect_match(fields[, "YEAR"], "^[0-9]{4}$")
  expect_identical(unname(fields[, "COPYRIGHT HOLDER"]), "the bsbasis developers")
})
