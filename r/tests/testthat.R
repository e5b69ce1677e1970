library(testthat)
library(tabulon)

test_check("tabulon")
