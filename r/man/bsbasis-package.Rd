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
