\name{solve.bsbasis_normal_equations}
\alias{solve.bsbasis_normal_equations}
\alias{as.matrix.bsbasis_normal_equations}
\title{Penalised Solve of Normal Equations}
\description{
  The Gram matrix \eqn{G = X^T W X} of \code{\link{normal_equations}} as a
  dense symmetric matrix, and the coefficients \eqn{c} of
  \eqn{(G + \lambda P) c = X^T W y}{(G + lambda P) c = X'Wy}.
}
\usage{
\method{as.matrix}{bsbasis_normal_equations}(x, ...)

\method{solve}{bsbasis_normal_equations}(a, b, penalty = NULL, lambda = 0, ...)
}
\arguments{
  \item{x, a}{normal equations, from \code{\link{normal_equations}}.}
  \item{b}{the right-hand side, one value per B-spline; default \code{a$rhs},
    \eqn{X^T W y}{X'Wy} (normal equations formed with \code{y}).}
  \item{penalty}{\code{NULL} (none) or a symmetric matrix \eqn{P}, one row
    and column per B-spline: dense or from \pkg{Matrix}, as
    \code{\link{difference_penalty}} and \code{\link{derivative_penalty}}
    return.}
  \item{lambda}{the weight of the penalty, one finite number >= 0.}
  \item{...}{ignored.}
}
\details{
  \code{as.matrix} unfolds the band \code{x$gram} (LAPACK's upper band
  storage) into the full symmetric matrix, zero outside the band.

  \code{solve} factors \eqn{G + \lambda P}{G + lambda P} by
  \code{\link{chol}}: the system has one unknown per B-spline, so dense
  algebra costs little.  It is an error when the matrix is not positive
  definite or is singular to rounding (its smallest eigenvalue, found by
  inverse iteration, within rounding of the factorisation of 0): too few
  abscissae for the basis, or \code{lambda = 0} with intervals that hold no
  data.  \code{\link{fit_pspline}} solves the same system.
}
\value{
  \code{as.matrix}: the \code{nj} by \code{nj} matrix \eqn{G}.
  \code{solve}: the coefficients, a numeric vector of length \code{nj}.
}
\references{
  Eilers, P. H. C. and Marx, B. D. (1996) Flexible smoothing with
  B-splines and penalties.  \emph{Statistical Science} \bold{11}(2),
  89--121.
}
\seealso{
  \code{\link{normal_equations}}, which forms the sums;
  \code{\link{difference_penalty}} and \code{\link{derivative_penalty}} for
  \eqn{P}; \code{\link{fit_pspline}}, which solves the same system and
  chooses \eqn{\lambda}{lambda} by GCV; \code{\link{design_matrix}} to
  evaluate the spline of the coefficients.

  \code{\link[base]{chol}} and \code{\link[base]{solve}} in \pkg{base};
  \code{\link[Matrix]{band}} and \code{\link[Matrix]{Cholesky}} in
  \pkg{Matrix} for banded and sparse systems.
}
\examples{
k <- make_knots(c(0, 1), 8, 4, boundary = "extended")
x <- seq(0, 1, length.out = 50)
ne <- normal_equations(x, k, y = exp(x))
G <- as.matrix(ne)
isSymmetric(G)
cf <- solve(ne, penalty = difference_penalty(ncol(G), 2), lambda = 0.1)
max(abs(design_matrix(x, k) \%*\% cf - exp(x)))

# noisy data: the penalty's weight trades fidelity for smoothness
set.seed(6)
xn <- sort(runif(100))
yn <- sin(3 * pi * xn) + rnorm(100, sd = 0.3)
kn <- make_knots(xn, 20, 4, boundary = "extended")
ne <- normal_equations(xn, kn, y = yn)
P <- difference_penalty(ncol(ne$gram), 2)
xs <- seq(min(xn), max(xn), length.out = 200)
Xs <- design_matrix(xs, kn, sparse = FALSE)
fits <- sapply(c(0.01, 1, 100), function(l) drop(Xs \%*\% solve(ne, penalty = P,
                                                                lambda = l)))
plot(xn, yn, col = "grey40")
matlines(xs, fits, lty = 1, lwd = 2, col = c("red", "blue", "darkgreen"))
legend("topright", legend = paste("lambda =", c(0.01, 1, 100)), lty = 1,
       col = c("red", "blue", "darkgreen"), bty = "n")
}
