// Magnitude, phase and tie ranking by which complex minima and maxima order their values.
#pragma once

#include <complex>

namespace tzcumfun {

// |z| in z's own precision, without intermediate overflow or underflow. NaN exactly when either
// part is NaN (an infinite part with a NaN partner included), +Inf for any other infinite part
// and for finite values whose true magnitude exceeds the largest finite value.
float complexMagnitude(std::complex<float> z);
double complexMagnitude(std::complex<double> z);

// The angle of z from -pi to pi, the two-argument arc tangent of (imaginary, real); the sign of a
// zero imaginary part picks pi or -pi on the negative real axis.
float complexPhase(std::complex<float> z);
double complexPhase(std::complex<double> z);

// True when b ranks above a. Only meaningful for values that differ in some part and whose
// magnitudes are the same number: the ranking is what breaks such magnitude ties, so that the
// maximum and the minimum stay exact mirror images of each other.
bool complexRanksAbove(std::complex<float> a, std::complex<float> b);
bool complexRanksAbove(std::complex<double> a, std::complex<double> b);

}  // namespace tzcumfun
