# Runs the R code of Markdown pages as written: for each page given, its
# blocks fenced ```r in order, in an R process of the page's own (what one
# page attaches does not mask names for the next), with graphics to a null
# device.  Stops with the page and block that fail.
#
#   Rscript scripts/run_r_blocks.R README.md docs/getting_started/r.md ...
blocks <- function(path) {
  lines <- readLines(path, warn = FALSE)
  open <- which(lines == "```r")
  fences <- which(startsWith(lines, "```"))
  lapply(open, function(o) {
    close <- fences[fences > o][1]
    if (is.na(close)) stop(path, ": block at line ", o, " is not closed")
    paste(lines[seq_len(close - o - 1) + o], collapse = "\n")
  })
}

pages <- commandArgs(trailingOnly = TRUE)
if (!length(pages)) stop("no pages given")
if (length(pages) > 1) {
  self <- sub("^--file=", "", grep("^--file=", commandArgs(FALSE), value = TRUE))
  rscript <- file.path(R.home("bin"), "Rscript")
  for (page in pages)
    if (system2(rscript, c(shQuote(self), shQuote(page))) != 0) stop(page, " failed", call. = FALSE)
  quit(save = "no")
}
pdf(NULL)
page <- pages
code <- blocks(page)
for (k in seq_along(code)) {
  tryCatch(eval(parse(text = code[[k]]), envir = globalenv()),
           error = function(e) stop(sprintf("%s, R block %d: %s", page, k, conditionMessage(e)),
                                    call. = FALSE))
}
cat(sprintf("%s: ran %d R blocks\n", page, length(code)))
