\name{fit_pspline}
\alias{fit_pspline}
\alias{predict.bsbasis_pspline}
\alias{print.bsbasis_pspline}
\alias{plot.bsbasis_pspline}
\title{Smoothing by a P-Spline}
\description{
  Penalised least squares on a B-spline basis: minimises
  \eqn{\sum_i w_i (y_i - f(x_i))^2 + \lambda c^T P c}{sum(w * (y - f(x))^2) + lambda * c' P c}
  over the splines \eqn{f} of order \code{ord} on the knots, with
  B-spline coefficients \eqn{c} and a difference or derivative penalty
  \eqn{P}; \eqn{\lambda}{lambda} given or chosen by generalised
  cross-validation (GCV).
}
\usage{
fit_pspline(x, y, weights = NULL, knots = NULL, n_knots = NULL, ord = 4,
            penalty = c("difference", "derivative"), m = 2, lambda = NULL,
            lambda_bounds = NULL)

\method{predict}{bsbasis_pspline}(object, newdata = NULL, derivs = 0, ...)

\method{print}{bsbasis_pspline}(x, digits = max(3L, getOption("digits") - 3L), ...)

\method{plot}{bsbasis_pspline}(x, n = 200, xlab = "x", ylab = "y", col = "grey40",
     line_col = "blue", lwd = 2, ...)
}
\arguments{
  \item{x}{for \code{fit_pspline}, finite numeric abscissae; for the
    \code{print} and \code{plot} methods, a fit.}
  \item{y}{responses, one per \code{x}, finite on the rows in the base
    interval.}
  \item{weights}{\code{NULL} (all 1) or finite weights >= 0, one per
    \code{x}, that multiply the squared residuals.  Rows of weight 0 take
    no role: neither in the knots nor in the count of observations of
    GCV.}
  \item{knots}{knots to use, on which every \code{x} lies in the base
    interval; \code{NULL} to place them (see Details).  Not with
    \code{n_knots}.}
  \item{n_knots}{number of equally spaced base knots from the smallest to
    the largest \code{x} of positive weight; default
    \code{min(40, max(4, length(x) \%/\% 4))}.}
  \item{ord}{order of the splines (degree + 1).}
  \item{penalty}{\code{"difference"}: squared differences of order
    \code{m} of the coefficients (\code{\link{difference_penalty}});
    \code{"derivative"}: the integral of the squared \code{m}-th
    derivative over the base interval (\code{\link{derivative_penalty}}).}
  \item{m}{order of the differences (1 to 4) or of the derivative (>= 0).}
  \item{lambda}{the smoothing parameter, one finite number >= 0, or
    \code{NULL} to choose it by GCV.}
  \item{lambda_bounds}{\code{NULL} or \code{c(lo, hi)}, \code{0 < lo < hi},
    the window of \code{lambda} that GCV searches; default 8 decades either
    side of \code{trace(G) / trace(P)}.}
  \item{object}{a fit from \code{fit_pspline}.}
  \item{newdata}{numeric abscissae; \code{NULL} for those of the fit.}
  \item{derivs}{derivative orders >= 0, one for all or one per abscissa.}
  \item{digits}{significant digits printed.}
  \item{n}{number of points on which the curve is drawn.}
  \item{xlab, ylab, col}{labels and colour of the data, for
    \code{\link{plot}}.}
  \item{line_col, lwd}{colour and width of the curve.}
  \item{...}{for \code{plot}, further arguments to \code{\link{plot}} for
    the data; ignored by the other methods.}
}
\details{
  Unless \code{knots} are given they are
  \code{make_knots(x, n_knots, ord, boundary = "extended", weights = weights)}:
  equally spaced, and continued beyond the ends, so that every B-spline
  has the same shape and differences of coefficients measure roughness
  alike across the interval, as P-splines assume.

  The fit needs only \eqn{G = X^T W X}, \eqn{X^T W y} and \eqn{y^T W y},
  which \code{\link{normal_equations}} forms in the library without a
  design matrix; then for each \eqn{\lambda}{lambda} the system
  \eqn{(G + \lambda P) c = X^T W y}{(G + lambda P) c = X'Wy} is solved.  It
  has one unknown per B-spline, a few dozen, and is solved with dense
  algebra (\code{\link{chol}}), which costs little beside the pass over the
  data.  A system singular to rounding is an error.  The effective degrees
  of freedom are \eqn{edf = tr((G + \lambda P)^{-1} G)}{edf = trace((G + lambda P)^-1 G)},
  the residual sum of squares
  \eqn{RSS = y^T W y - 2 c^T X^T W y + c^T G c}{RSS = y'Wy - 2 c'X'Wy + c'Gc}
  (clipped at 0), and with \eqn{N} observations (rows of positive weight)
  \eqn{GCV = N \, RSS / (N - edf)^2}{GCV = N * RSS / (N - edf)^2} and
  \eqn{\sigma = \sqrt{RSS / (N - edf)}}{sigma = sqrt(RSS / (N - edf))}.

  GCV is minimised over \eqn{\log_{10}\lambda}{log10(lambda)}: a grid of
  half decades over the window, then three grids of 9 points, each
  spanning the best point's neighbours in the one before, and the vertex
  of the parabola through the last grid's best point and its neighbours.
  When GCV is least at an end of the window, \code{lambda} is that end and
  a warning says so: towards the upper end the fit tends to what the
  penalty leaves free (a line for second differences), where GCV may level
  off without turning.  Without a penalty (\eqn{tr(P) = 0}) \code{lambda}
  is 0.  The fit and the search are those of the package's Python
  interface, but for the edf on the search's grids, exact here (there
  from differences of log-determinants), which moves the \code{lambda}
  found by about \eqn{10^{-10}}{1e-10} relative.

  \code{predict} evaluates the spline or its derivatives through
  \code{\link{design_matrix}}: beyond the base interval the end polynomial
  pieces continue (\code{extrapolate = "continue"}); \code{NA}, \code{NaN}
  and infinite abscissae give \code{NA}.  \code{\link{coef}},
  \code{\link{fitted}} and \code{\link{residuals}} (\code{y - fitted},
  unweighted) work on the fit through their default methods.  \code{plot}
  draws the data of positive weight and the curve over the base interval.
}
\value{
  \code{fit_pspline}: an object of class \code{"bsbasis_pspline"}, a list
  with \code{coefficients}, \code{knots}, \code{ord}, \code{penalty},
  \code{m}, \code{penalty_matrix} (\eqn{P}), \code{lambda}, \code{edf},
  \code{rss}, \code{count} (\eqn{N}), \code{gcv}, \code{sigma} (\code{Inf}
  and \code{NaN} when \eqn{N \le edf}{N <= edf}), \code{lambda_bounds} (the
  window GCV searched, \code{NULL} when \code{lambda} was given), \code{x},
  \code{y}, \code{weights}, \code{fitted.values}, \code{residuals} and
  \code{call}.

  \code{predict}: a numeric vector, one value per abscissa.
  \code{print} and \code{plot}: the fit, invisibly.
}
\references{
  Eilers, P. H. C. and Marx, B. D. (1996) Flexible smoothing with
  B-splines and penalties.  \emph{Statistical Science} \bold{11}(2),
  89--121.

  Craven, P. and Wahba, G. (1979) Smoothing noisy data with spline
  functions: estimating the correct degree of smoothing by the method of
  generalized cross-validation.  \emph{Numerische Mathematik} \bold{31},
  377--403.

  Wood, S. N. (2017) P-splines with derivative based penalties and tensor
  product smoothing of unevenly distributed data.  \emph{Statistics and
  Computing} \bold{27}(4), 985--989.
}
\seealso{\code{\link{normal_equations}} and its \code{solve} method
  (\code{\link{solve.bsbasis_normal_equations}}) for the penalised solve
  from accumulated sums; \code{\link{difference_penalty}} and
  \code{\link{derivative_penalty}} for the penalties;
  \code{\link{make_knots}} for the knots; \code{\link{design_matrix}},
  through which \code{predict} evaluates;
  \code{\link{smooth.construct.bsb.smooth.spec}} for the same basis and
  penalties in \pkg{mgcv}.

  The peers: \code{\link[mgcv]{smooth.construct.ps.smooth.spec}} (P-splines
  in \pkg{mgcv}, with REML as well as GCV), \code{\link[stats]{smooth.spline}}
  (a smoothing spline with a knot at every distinct abscissa) and
  \code{\link[survival]{pspline}} (P-spline terms of survival models).}
\examples{
set.seed(1)
x <- runif(200)
y <- sin(2 * pi * x) + rnorm(200, sd = 0.2)
fit <- fit_pspline(x, y)
fit
predict(fit, c(0.25, 0.5), derivs = c(0, 1))
plot(fit)

# the same penalised fit from the sums and a penalty
ne <- normal_equations(x, fit$knots, y = y)
c2 <- solve(ne, penalty = difference_penalty(length(coef(fit))), lambda = fit$lambda)
max(abs(c2 - coef(fit)))

# third differences leave quadratics free: x^2 is fitted exactly
q <- fit_pspline(x, x^2, m = 3, lambda = 10)
predict(q, c(1.5, 1.5, 1.5), derivs = 0:2)  # 2.25, 3, 2

# the exact derivative penalty, and the fitted slopes
fd <- fit_pspline(x, y, penalty = "derivative", m = 2)
c(difference = fit$edf, derivative = fd$edf)
xs <- seq(0, 1, length.out = 200)
plot(xs, predict(fit, xs, derivs = 1), type = "l", xlab = "x",
     ylab = "slope")
lines(xs, predict(fd, xs, derivs = 1), col = "blue")
lines(xs, 2 * pi * cos(2 * pi * xs), lty = 2)

# weights: rows of weight 0 do not enter the fit
w <- rep(1, 200)
w[x > 0.8] <- 0
fw <- fit_pspline(x, y, weights = w)
plot(fw, main = "weight 0 for x > 0.8")

# beside a smoothing spline
plot(x, y, col = "grey40")
lines(xs, predict(fit, xs), col = "blue", lwd = 2)
lines(predict(smooth.spline(x, y), xs), col = "red", lty = 2)
}
