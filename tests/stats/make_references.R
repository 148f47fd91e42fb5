# Makes the reference numbers of the maximum-likelihood statistics from an
# independent implementation, lavaan, which fits the saturated model with
# missing = "ml": the means and covariances (divisor N) are lavaan's own EM
# estimates of the saturated moments (its "h1", run to a tight tolerance:
# the optimizer's estimates are good to only about 1e-8), the
# log-likelihood is lavaan's at them, the standard errors (observed
# information) and fractions of missing information are those of the fit;
# Little's MCAR test is computed here from lavaan's estimates.
# Writes, for each data set, DATA.csv (the data, NA for a missing value)
# and DATA.ref (the numbers, 17 significant digits), into this folder.
#   Rscript tests/stats/make_references.R
suppressMessages({
  library(lavaan)
  library(mice)
})
here <- if (length(sys.frames())) dirname(sys.frame(1)$ofile) else "."
args <- commandArgs(trailingOnly = FALSE)
f <- sub("^--file=", "", args[grep("^--file=", args)])
if (length(f)) here <- dirname(normalizePath(f))

sets <- list(
  airquality = airquality[, c("Ozone", "Solar.R", "Wind", "Temp")],
  airquality6 = airquality,
  mammalsleep = mice::mammalsleep[, c("bw", "brw", "sws", "ps", "mls", "gt", "pi", "sei", "odi")],
  boys = mice::boys[, c("age", "hgt", "wgt", "bmi", "hc", "tv")]
)

little <- function(d, mu, S) {
  r <- is.na(d)
  key <- apply(r, 1, function(x) paste(as.integer(x), collapse = ""))
  d2 <- 0
  kk <- 0
  for (k in unique(key)) {
    rows <- d[key == k, , drop = FALSE]
    o <- !r[which(key == k)[1], ]
    if (!any(o)) next
    ybar <- colMeans(rows[, o, drop = FALSE])
    dev <- ybar - mu[o]
    d2 <- d2 + nrow(rows) * drop(t(dev) %*% solve(S[o, o, drop = FALSE]) %*% dev)
    kk <- kk + sum(o)
  }
  df <- kk - ncol(d)
  c(d2 = d2, df = df, p = pchisq(d2, df, lower.tail = FALSE))
}

for (name in names(sets)) {
  d <- sets[[name]]
  v <- names(d)
  K <- length(v)
  model <- paste(c(
    sapply(seq_len(K), function(i) paste0(v[i], " ~~ ", paste(v[i:K], collapse = " + "))),
    paste0(v, " ~ 1")), collapse = "\n")
  # Fitted to the standardized data, whose scales suit the optimizer (one
  # data set varies over six orders of magnitude), and taken back: the
  # maximum-likelihood estimates follow the data's scales exactly.
  m <- colMeans(d, na.rm = TRUE)
  s <- apply(d, 2, sd, na.rm = TRUE)
  ds <- as.data.frame(scale(d, center = m, scale = s))
  fit <- lavaan(model, data = ds, missing = "ml", information = "observed",
                se = "standard", h1 = TRUE, em.h1.iter.max = 1000000L, em.h1.tol = 1e-11,
                control = list(rel.tol = 1e-14, iter.max = 10000L, eval.max = 20000L))
  stopifnot(lavInspect(fit, "converged"))
  h1 <- lavInspect(fit, "sampstat.h1")
  mu <- m + s * unclass(h1$mean)[v]
  S <- unclass(h1$cov)[v, v] * outer(s, s)
  loglik <- lavaan:::lav_mvnorm_missing_loglik_data(Y = as.matrix(d), Mu = mu, Sigma = S)
  pe <- parameterEstimates(fit, fmi = TRUE)
  out <- c(sprintf("# %s: lavaan %s (missing = \"ml\", observed information), R %s; made by tests/stats/make_references.R",
                   name, packageVersion("lavaan"), getRversion()),
           sprintf("N %d", nrow(d)), sprintf("K %d", K),
           sprintf("loglik %.17g", loglik))
  for (j in seq_len(K)) out <- c(out, sprintf("mean %d %.17g", j, mu[j]))
  for (j in seq_len(K)) for (l in seq_len(j)) out <- c(out, sprintf("cov %d %d %.17g", j, l, S[j, l]))
  for (j in seq_len(K)) {
    r <- pe[pe$lhs == v[j] & pe$op == "~1", ]
    out <- c(out, sprintf("se_mean %d %.17g %.17g", j, s[j] * r$se, r$fmi))
  }
  for (j in seq_len(K)) for (l in seq_len(j)) {
    r <- pe[pe$op == "~~" & ((pe$lhs == v[l] & pe$rhs == v[j]) | (pe$lhs == v[j] & pe$rhs == v[l])), ]
    out <- c(out, sprintf("se_cov %d %d %.17g %.17g", j, l, s[j] * s[l] * r$se[1], r$fmi[1]))
  }
  lt <- little(as.matrix(d), mu, S)
  out <- c(out, sprintf("little %.17g %d %.17g", lt["d2"], as.integer(lt["df"]), lt["p"]))
  writeLines(out, file.path(here, paste0(name, ".ref")))
  write.csv(d, file.path(here, paste0(name, ".csv")), row.names = FALSE, na = "NA")
}
