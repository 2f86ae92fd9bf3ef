\name{design_matrix}
\alias{design_matrix}
\alias{periodic_design_matrix}
\title{B-Spline Design Matrices}
\description{
  B-splines of order \code{ord}, or their derivatives, at the abscissae
  \code{x}: on the knots \code{knots}, or periodic on the breaks
  \code{breaks}.
}
\usage{
design_matrix(x, knots, ord = 4, derivs = 0,
              extrapolate = c("error", "zero", "continue", "constant", "linear",
                              "periodic"),
              nj = NULL, sparse = TRUE, threads = NULL)
periodic_design_matrix(x, breaks, ord = 4, derivs = 0, sparse = TRUE)
}
\arguments{
  \item{x}{numeric abscissae.}
  \item{knots}{finite, non-decreasing knots, at least \code{2 * ord}, whose
    span and the reciprocals of whose positive gaps are finite doubles.}
  \item{ord}{order (degree + 1).}
  \item{derivs}{derivative orders >= 0, recycled along \code{x}; orders from
    \code{ord} on give zeros.}
  \item{extrapolate}{what abscissae outside the base interval
    \code{[knots[ord], knots[nj + 1]]} get: an error, a zero row, the end
    polynomial pieces continued, the row at the nearest end (derivatives 0),
    a linear continuation of value and slope, or \code{x} wrapped into the
    interval.}
  \item{nj}{number of columns; default \code{length(knots) - ord}.}
  \item{sparse}{return a \code{dgCMatrix} (column-compressed) rather than a
    dense matrix.}
  \item{threads}{threads for the evaluation; \code{NULL} uses one. The
    result is the same bits for any value.}
  \item{breaks}{strictly increasing finite breaks; \code{length(breaks) - 1}
    columns, at least \code{ord}; period \code{diff(range(breaks))}.}
}
\details{
  The base interval is closed: its right end takes limits from the left.
  \code{NA} and \code{NaN} abscissae give a row of \code{NA} in a dense
  result and an empty row in a sparse one, in every mode.  Infinite
  abscissae give an empty row under \code{"zero"}, \code{"continue"},
  \code{"linear"} and \code{"periodic"}, and in \code{periodic_design_matrix}.
}
\value{A \code{length(x)} by \code{nj} matrix, \code{dgCMatrix} or dense.}
\examples{
k <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
design_matrix(c(0.5, 3, NA), k)
design_matrix(c(-1, 4), k, extrapolate = "linear", sparse = FALSE)
periodic_design_matrix(c(0, 0.5, 4.9), 0:5, sparse = FALSE)
}
