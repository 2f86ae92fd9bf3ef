\name{bsbasis-package}
\alias{bsbasis-package}
\alias{bsbasis}
\docType{package}
\title{B-Spline Design Matrices from the bsbasis Library}
\description{
  B-spline bases, derivatives, periodic bases, penalties, knots and normal
  equations computed by the bsbasis C library, whose results are the same
  bits on every machine. \code{ord} is the order (degree + 1) throughout.
  See \code{\link{design_matrix}} and \code{\link{splineDesign}}.
}
\details{
  \describe{
    \item{Design matrices.}{\code{\link{design_matrix}} (sparse
      \code{dgCMatrix} or dense, any order, derivatives, six modes for
      abscissae outside the base interval, threads) and
      \code{\link{periodic_design_matrix}}; \code{\link{splineDesign}}, a
      drop-in for \code{splines::splineDesign}.}
    \item{Terms of model formulas.}{\code{\link{bs}} and \code{\link{ns}},
      drop-ins for \code{splines::bs} and \code{splines::ns}, and
      \code{\link{pbs}}, a periodic term, with derivatives, sparse results
      and threads; their \code{\link[=predict.bs]{predict}} and
      \code{makepredictcall} methods keep the knots of a fit for new data.}
    \item{Penalised fits.}{\code{\link{difference_penalty}} and
      \code{\link{derivative_penalty}}; \code{\link{normal_equations}},
      which forms \eqn{X^T W X}{X'WX} and \eqn{X^T W y}{X'Wy} without a
      design matrix, and their \code{\link[=solve.bsbasis_normal_equations]{solve}}
      method; \code{\link{fit_pspline}}, a P-spline whose smoothing
      parameter is chosen by GCV; and the smooth \code{s(x, bs = "bsb")} of
      \pkg{mgcv} (\code{\link{smooth.construct.bsb.smooth.spec}}).}
    \item{Knots.}{\code{\link{make_knots}}: equally spaced or at weighted
      quantiles, clamped or extended beyond the ends.}
  }
  Every result is the same, bit for bit, for any number of threads and on
  every machine: the library evaluates in a fixed order of operations,
  compiled without contraction of multiply-adds or fast-math.
}
\references{
  de Boor, C. (1978) \emph{A Practical Guide to Splines}.  Springer,
  New York.  Revised edition (2001), Applied Mathematical Sciences 27.

  Eilers, P. H. C. and Marx, B. D. (1996) Flexible smoothing with
  B-splines and penalties.  \emph{Statistical Science} \bold{11}(2),
  89--121.
}
\seealso{
  \code{\link{design_matrix}}, \code{\link{splineDesign}}, \code{\link{bs}},
  \code{\link{ns}}, \code{\link{pbs}}, \code{\link{fit_pspline}},
  \code{\link{smooth.construct.bsb.smooth.spec}}.

  The peers: \code{\link[splines]{splineDesign}} and \code{\link[splines]{bs}}
  in \pkg{splines}, \code{\link[splines2]{bSpline}} in \pkg{splines2},
  \code{\link[mgcv]{smooth.construct.ps.smooth.spec}} in \pkg{mgcv},
  \code{\link[stats]{smooth.spline}}.
}
\examples{
# a cubic B-spline basis on clamped knots, sparse
x <- seq(0, 1, length.out = 9)
k <- make_knots(x, 5, ord = 4)
design_matrix(x, k)

# a regression spline in a model formula
fit <- lm(weight ~ bs(height, df = 5), data = women)
predict(fit, data.frame(height = c(60, 70)))

# a P-spline with its smoothing parameter chosen by GCV
set.seed(1)
u <- runif(200)
y <- sin(2 * pi * u) + rnorm(200, sd = 0.2)
ps <- fit_pspline(u, y)
ps
plot(ps)
}
\keyword{package}
