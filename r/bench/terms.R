# bs(x, df = 10) and ns(x, df = 10) on 10^6 abscissae (uniform, in random
# order): bsbasis's, dense and sparse (and sparse on 2 threads), against
# splines' dense result, and the sparse ones also against splines' result
# made a dgCMatrix (Matrix(, sparse = TRUE)), what a user of splines writes
# for one.  The calls take turns, round after round, in one process; each
# figure is the best of the rounds, in elapsed seconds, and beside it the
# best CPU seconds (user + system), which a busy machine disturbs less.
#   Rscript r/bench/terms.R [rounds] [n]
args <- commandArgs(TRUE)
rounds <- if (length(args) >= 1L) as.integer(args[1L]) else 7L
n <- if (length(args) >= 2L) as.numeric(args[2L]) else 1e6
suppressMessages({
  library(bsbasis)
  library(Matrix)
})
set.seed(1)
x <- runif(n)

calls <- list(
  splines_bs = function() splines::bs(x, df = 10),
  splines_bs_dgC = function() Matrix(splines::bs(x, df = 10), sparse = TRUE),
  bsbasis_bs = function() bsbasis::bs(x, df = 10),
  bsbasis_bs_sparse = function() bsbasis::bs(x, df = 10, sparse = TRUE),
  bsbasis_bs_sparse_2threads = function() bsbasis::bs(x, df = 10, sparse = TRUE, threads = 2),
  splines_ns = function() splines::ns(x, df = 10),
  splines_ns_dgC = function() Matrix(splines::ns(x, df = 10), sparse = TRUE),
  bsbasis_ns = function() bsbasis::ns(x, df = 10),
  bsbasis_ns_sparse = function() bsbasis::ns(x, df = 10, sparse = TRUE),
  bsbasis_ns_sparse_2threads = function() bsbasis::ns(x, df = 10, sparse = TRUE, threads = 2))

# The results agree before anything is timed.
stopifnot(isTRUE(all.equal(calls$bsbasis_bs(), calls$splines_bs(), tolerance = 1e-13)),
          isTRUE(all.equal(calls$bsbasis_ns(), calls$splines_ns(), tolerance = 1e-12)),
          isTRUE(all.equal(as.matrix(calls$bsbasis_bs_sparse()),
                           unclass(calls$splines_bs())[, ], check.attributes = FALSE)))

elapsed <- cpu <- matrix(Inf, rounds, length(calls), dimnames = list(NULL, names(calls)))
for (r in seq_len(rounds)) {
  for (k in names(calls)) {
    gc(FALSE)
    t <- system.time(calls[[k]]())
    elapsed[r, k] <- t[["elapsed"]]
    cpu[r, k] <- t[["user.self"]] + t[["sys.self"]]
  }
}
best <- data.frame(elapsed = apply(elapsed, 2, min), cpu = apply(cpu, 2, min))
print(best, digits = 3)
speedup <- function(ours, theirs, col) best[theirs, col] / best[ours, col]
cat(sprintf("%-28s %8s %8s\n", "speed-up over splines", "elapsed", "cpu"))
for (term in c("bs", "ns")) {
  theirs <- paste0("splines_", term)
  for (ours in paste0("bsbasis_", term, c("", "_sparse", "_sparse_2threads")))
    cat(sprintf("%-28s %7.1fx %7.1fx\n", ours, speedup(ours, theirs, "elapsed"),
                speedup(ours, theirs, "cpu")))
  for (ours in paste0("bsbasis_", term, c("_sparse", "_sparse_2threads")))
    cat(sprintf("%-28s %7.1fx %7.1fx  (against %s_dgC)\n", ours,
                speedup(ours, paste0(theirs, "_dgC"), "elapsed"),
                speedup(ours, paste0(theirs, "_dgC"), "cpu"), theirs))
}
