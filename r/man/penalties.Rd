\name{difference_penalty}
\alias{difference_penalty}
\alias{derivative_penalty}
\title{Penalty Matrices}
\description{
  \code{difference_penalty}: \eqn{D^T D} for the difference matrix \eqn{D}
  of order \code{order} on \code{n} coefficients (zero when
  \code{n <= order}).
  \code{derivative_penalty}: the Gram matrix of the \code{m}-th derivatives
  of the basis functions over the base interval, by exact Gauss-Legendre
  quadrature.
}
\usage{
difference_penalty(n, order = 2, sparse = FALSE)
derivative_penalty(knots, ord = 4, m = 2, nj = NULL, sparse = FALSE)
}
\arguments{
  \item{n}{number of coefficients.}
  \item{order}{difference order, 1 to 4.}
  \item{knots, ord, nj}{as for \code{\link{design_matrix}}.}
  \item{m}{derivative order >= 0.}
  \item{sparse}{return a \code{dsCMatrix} rather than a dense matrix.}
}
\details{
  \code{difference_penalty} is the penalty of P-splines (Eilers and Marx,
  1996): \eqn{c^T D^T D c}{c'D'Dc} is the sum of the squared differences of
  order \code{order} of the coefficients, which on equally spaced knots
  stands for the integral of a squared derivative.  It leaves free the
  coefficients of the polynomials of degree below \code{order}.

  \code{derivative_penalty} is that integral itself (Wood, 2017):
  \eqn{c^T G c}{c'Gc} is \eqn{\int f^{(m)}(x)^2 dx}{integral of f^(m)(x)^2}
  over the base interval for the spline \eqn{f} with coefficients
  \eqn{c}, for any knots; on each interval the integrand is a polynomial,
  which Gauss-Legendre quadrature of \code{ord - m} points integrates
  exactly.  Both matrices are banded: bandwidth \code{order} and
  \code{ord - 1}.
}
\value{A symmetric matrix, dense or \code{dsCMatrix}.}
\references{
  Eilers, P. H. C. and Marx, B. D. (1996) Flexible smoothing with
  B-splines and penalties.  \emph{Statistical Science} \bold{11}(2),
  89--121.

  Wood, S. N. (2017) P-splines with derivative based penalties and tensor
  product smoothing of unevenly distributed data.  \emph{Statistics and
  Computing} \bold{27}(4), 985--989.

  Wood, S. N. (2017) \emph{Generalized Additive Models: An Introduction
  with R}, 2nd edition.  Chapman and Hall/CRC, Boca Raton.
}
\seealso{
  \code{\link{fit_pspline}}, which fits with either penalty and chooses
  its weight by GCV; \code{\link{solve.bsbasis_normal_equations}} for the
  penalised solve; \code{\link{smooth.construct.bsb.smooth.spec}} for the
  penalties in \pkg{mgcv}; \code{\link{design_matrix}} and
  \code{\link{make_knots}}.

  The peers: \code{\link[mgcv]{smooth.construct.ps.smooth.spec}} (difference
  penalties) and \code{\link[mgcv]{smooth.construct.bs.smooth.spec}}
  (derivative penalties) in \pkg{mgcv};
  \code{\link[Matrix:dsCMatrix-class]{dsCMatrix}} for \code{sparse = TRUE}.
}
\examples{
difference_penalty(5)
derivative_penalty(c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3))
difference_penalty(6, order = 1, sparse = TRUE)

# both penalties leave straight lines free
k <- make_knots(c(0, 1), 10, ord = 4, boundary = "extended")
n <- length(k) - 4
line <- seq(-1, 2, length.out = n)  # the coefficients of a straight line
P <- difference_penalty(n, 2)
G <- derivative_penalty(k, ord = 4, m = 2)
round(c(drop(line \%*\% P \%*\% line), drop(line \%*\% G \%*\% line)), 8)  # 0, 0

# penalised least squares: more penalty, smoother curve
set.seed(4)
x <- sort(runif(120))
y <- cos(4 * x) + rnorm(120, sd = 0.25)
X <- design_matrix(x, k, sparse = FALSE)
xs <- seq(0, 1, length.out = 200)
Xs <- design_matrix(xs, k, sparse = FALSE)
plot(x, y, col = "grey40")
for (lambda in c(0.01, 1, 100)) {
  cf <- solve(crossprod(X) + lambda * P, crossprod(X, y))
  lines(xs, Xs \%*\% cf, lwd = 2,
        col = c("red", "blue", "darkgreen")[log10(lambda) / 2 + 2])
}
cf <- solve(crossprod(X) + 1e-4 * G, crossprod(X, y))
lines(xs, Xs \%*\% cf, lty = 2)
}
