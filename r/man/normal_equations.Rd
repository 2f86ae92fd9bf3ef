\name{normal_equations}
\alias{normal_equations}
\title{Normal Equations without a Design Matrix}
\description{
  \eqn{X^T W X}, \eqn{X^T W y}, \eqn{y^T W y} and the sum of weights for the
  design \eqn{X} of \code{\link{design_matrix}}, formed abscissa by abscissa.
}
\usage{
normal_equations(x, knots, ord = 4, y = NULL, weights = NULL, derivs = 0,
                 extrapolate = "error", nj = NULL)
}
\arguments{
  \item{x, knots, ord, nj}{as for \code{\link{design_matrix}}.}
  \item{y}{\code{NULL} or responses, one per \code{x}.}
  \item{weights}{\code{NULL} (all 1) or finite weights >= 0.}
  \item{derivs}{one derivative order.}
  \item{extrapolate}{one of the modes of \code{\link{design_matrix}}.}
}
\details{\code{NA} abscissae contribute nothing; \code{y} must be finite on
  the other rows, and the weights finite and >= 0 on every row.  An error
  names the first row at fault and its values, as in
  \code{"y[5] = NaN on a row in range (x[5] = 0.37)"} or
  \code{"weights[3] = -1 is negative"}.}
\value{
  A list: \code{gram}, the symmetric \eqn{X^T W X} in LAPACK's upper band
  storage, an \code{ord} by \code{nj} matrix with
  \code{gram[ord + r - c, c]} the element \code{(r, c)}, \code{r <= c};
  \code{rhs} and \code{yty} (\code{NULL} without \code{y});
  \code{sum_weights}; \code{count}, the rows that contributed.  Its class
  is \code{"bsbasis_normal_equations"}, whose \code{as.matrix} and
  \code{solve} methods give the dense \eqn{X^T W X} and penalised
  solutions (\code{\link{solve.bsbasis_normal_equations}}).
}
\references{
  de Boor, C. (1978) \emph{A Practical Guide to Splines}.  Springer,
  New York.  Revised edition (2001), Applied Mathematical Sciences 27.

  Eilers, P. H. C. and Marx, B. D. (1996) Flexible smoothing with
  B-splines and penalties.  \emph{Statistical Science} \bold{11}(2),
  89--121.
}
\seealso{
  \code{\link{solve.bsbasis_normal_equations}} for the dense
  \eqn{X^T W X}{X'WX} and the (penalised) coefficients;
  \code{\link{design_matrix}} for the design itself;
  \code{\link{difference_penalty}}, \code{\link{derivative_penalty}} and
  \code{\link{fit_pspline}}, which fits from these sums;
  \code{\link{make_knots}}.

  The same sums from a design matrix: \code{\link[base]{crossprod}} of
  \code{\link[splines]{splineDesign}}'s matrix, or of a
  \code{\link[Matrix:dgCMatrix-class]{dgCMatrix}}; \code{\link[stats]{lm}}
  solves the unpenalised problem from the design.
}
\examples{
k <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
x <- seq(0, 3, by = 0.1)
normal_equations(x, k, y = sin(x))$rhs

# the same sums as crossprod() of the design
X <- design_matrix(x, k, sparse = FALSE)
ne <- normal_equations(x, k, y = sin(x))
all.equal(as.matrix(ne), crossprod(X), check.attributes = FALSE)
all.equal(ne$rhs, drop(crossprod(X, sin(x))))

# weighted least squares from the sums, as lm() fits it
set.seed(5)
u <- runif(300, 0, 3)
w <- rexp(300)
y <- log1p(u) + rnorm(300, sd = 0.1 / sqrt(w))
kn <- make_knots(u, 6)
cf <- solve(normal_equations(u, kn, y = y, weights = w))
all.equal(cf, unname(coef(lm(y ~ design_matrix(u, kn, sparse = FALSE) - 1,
                             weights = w))))
us <- seq(min(u), max(u), length.out = 200)
plot(u, y, col = "grey40", cex = 0.5)
lines(us, design_matrix(us, kn, sparse = FALSE) \%*\% cf, col = "blue", lwd = 2)
}
