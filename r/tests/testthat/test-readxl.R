# The same sample read by readxl: where both readers agree on the types, the
# frames are equal (readxl also gives UTC date-times and keeps the empty row).
test_that("the sample matches readxl::read_excel", {
  skip_if_not_installed("readxl")
  sample <- source_file("examples", "sample.xlsx")
  skip_if_not(file.exists(sample), "examples/sample.xlsx is not there")
  for (sheet in sheet_names(sample)) {
    ours <- as.data.frame(read_sheet(sample, sheet))
    theirs <- as.data.frame(readxl::read_excel(sample, sheet))
    expect_identical(ours, theirs, label = sheet)
  }
  expect_identical(sheet_names(sample), readxl::excel_sheets(sample))
})
