# Makes the reference numbers of multiple imputation from two independent
# implementations: Amelia (bootstrap EM) and jomo (joint-model Gibbs
# sampler). For each data set of tests/stats and each program, M = 200
# imputations; for every mean and covariance (divisor N) the pooled
# estimate (the mean over the data sets) and its Monte Carlo standard error
# (their standard deviation over sqrt(M)). Writes tests/impute/DATA.ref.
#   Rscript tests/impute/make_references.R
suppressMessages({
  library(Amelia)
  library(jomo)
})
args <- commandArgs(trailingOnly = FALSE)
here <- dirname(normalizePath(sub("^--file=", "", args[grep("^--file=", args)])))
M <- 200
set.seed(20261207)

moments <- function(x) {
  x <- as.matrix(x)
  n <- nrow(x)
  mu <- colMeans(x)
  S <- crossprod(sweep(x, 2, mu)) / n
  c(mu, S[lower.tri(S, diag = TRUE)][order(row(S)[lower.tri(S, diag = TRUE)], col(S)[lower.tri(S, diag = TRUE)])])
}

for (name in c("airquality", "boys")) {
  d <- read.csv(file.path(here, "..", "stats", paste0(name, ".csv")))
  K <- ncol(d)
  a <- amelia(d, m = M, p2s = 0)
  am <- sapply(a$imputations, moments)
  # jomo on the standardized data (its default prior, an inverse-Wishart of
  # the identity, then weighs the same for every variable), taken back.
  m0 <- colMeans(d, na.rm = TRUE)
  s0 <- apply(d, 2, sd, na.rm = TRUE)
  ds <- as.data.frame(scale(d, center = m0, scale = s0))
  j <- jomo(ds, nburn = 1000, nbetween = 50, nimp = M, output = 0)
  jm <- sapply(seq_len(M), function(i) {
    x <- as.matrix(j[j$Imputation == i, seq_len(K)])
    moments(sweep(sweep(x, 2, s0, "*"), 2, m0, "+"))
  })
  labels <- c(paste("mean", seq_len(K)),
              unlist(lapply(seq_len(K), function(r) paste("cov", r, seq_len(r)))))
  out <- sprintf("# %s: Amelia %s and jomo %s, M = %d each, R %s; made by tests/impute/make_references.R",
                 name, packageVersion("Amelia"), packageVersion("jomo"), M, getRversion())
  for (p in list(list("amelia", am), list("jomo", jm))) {
    est <- rowMeans(p[[2]])
    mcse <- apply(p[[2]], 1, sd) / sqrt(M)
    out <- c(out, sprintf("%s %s %.17g %.17g", p[[1]], labels, est, mcse))
  }
  writeLines(out, file.path(here, paste0(name, ".ref")))
}
