# Runs the R code of Markdown pages as written: for each page given, its
# blocks fenced ```r in order, in one fresh environment of the page's own,
# with graphics to a null device.  Stops with the page and block that fail.
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

pdf(NULL)
pages <- commandArgs(trailingOnly = TRUE)
if (!length(pages)) stop("no pages given")
ran <- 0L
for (page in pages) {
  env <- new.env(parent = globalenv())
  code <- blocks(page)
  for (k in seq_along(code)) {
    tryCatch(eval(parse(text = code[[k]]), envir = env),
             error = function(e) stop(sprintf("%s, R block %d: %s", page, k, conditionMessage(e)),
                                      call. = FALSE))
    ran <- ran + 1L
  }
}
cat(sprintf("ran %d R blocks from %d pages\n", ran, length(pages)))
