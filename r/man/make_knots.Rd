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
\examples{
make_knots(c(3, 1, 4, 1, 5, 9, 2, 6), 5)
}
