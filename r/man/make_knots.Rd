\name{make_knots}
\alias{make_knots}
\title{Knots from Data}
\description{
  \code{n_knots} base knots from \code{min(x)} to \code{max(x)} (abscissae
  with positive weight), equally spaced or at weighted quantiles, and
  \code{ord - 1} knots beyond each end that repeat it or continue the
  spacing of the end interval.
}
\usage{
make_knots(x, n_knots, ord = 4, kind = c("uniform", "quantile"),
           weights = NULL, boundary = c("clamped", "extended"))
}
\arguments{
  \item{x}{finite numeric data.}
  \item{n_knots}{number of base knots, at least 2.}
  \item{ord}{order of the splines.}
  \item{kind}{placement of the base knots.}
  \item{weights}{\code{NULL} or finite weights >= 0, one per \code{x}.}
  \item{boundary}{the knots beyond the ends.}
}
\details{Data that give no knots are refused with the cause: fewer than 2
  distinct abscissae with positive weight, a span of the data, a sum of the
  weights or knots continued beyond the ends that overflow a double.}
\value{\code{n_knots + 2 * (ord - 1)} knots.}
\seealso{
  \code{\link{design_matrix}}, \code{\link{normal_equations}} and
  \code{\link{derivative_penalty}}, which take the knots;
  \code{\link{fit_pspline}}, which places its knots with
  \code{boundary = "extended"}; \code{\link{bs}}, whose \code{df} places
  interior knots at quantiles.

  The peers: \code{\link[stats]{quantile}}; \code{\link[mgcv]{place.knots}}
  in \pkg{mgcv}; the knots that \code{\link[splines]{bs}} and
  \code{\link[splines2]{bSpline}} place from \code{df}.
}
\examples{
make_knots(c(3, 1, 4, 1, 5, 9, 2, 6), 5)
make_knots(c(3, 1, 4, 1, 5, 9, 2, 6), 5, boundary = "extended")

# quantile knots follow the data: denser where the data are
set.seed(7)
x <- rexp(300)
ku <- make_knots(x, 8, kind = "uniform")
kq <- make_knots(x, 8, kind = "quantile")
plot(x, rep(0, 300), pch = "|", ylim = c(-1, 1), yaxt = "n", ylab = "",
     col = "grey60")
abline(v = unique(ku), col = "red", lty = 2)
abline(v = unique(kq), col = "blue")

# a least-squares fit on either set of knots
y <- exp(-x) + rnorm(300, sd = 0.05)
rss <- function(k) sum(lm.fit(design_matrix(x, k, sparse = FALSE), y)$residuals^2)
c(uniform = rss(ku), quantile = rss(kq))
}
