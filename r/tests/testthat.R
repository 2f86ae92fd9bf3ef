library(testthat)
library(bsbasis)
test_check("bsbasis")
