#pragma once
// The lens models a calibration can use, by name, with the names of their
// distortion coefficients. The coefficients are kept in the vision
// library's order for each model, so they go to its functions as they are:
//
//   opencv4   k1 k2 p1 p2                  two radial, two tangential (the default)
//   opencv5   k1 k2 p1 p2 k3               a third radial term
//   rational  k1 k2 p1 p2 k3 k4 k5 k6      radial (1 + k1 r^2 + k2 r^4 + k3 r^6) /
//                                          (1 + k4 r^2 + k5 r^4 + k6 r^6)
//   fisheye   k1 k2 k3 k4                  equidistant: theta_d = theta (1 + k1 theta^2
//                                          + k2 theta^4 + k3 theta^6 + k4 theta^8)

#include <string>
#include <vector>

enum class LensModel { OpenCv4, OpenCv5, Rational, Fisheye };

// The most distortion coefficients a model has, and the most intrinsic
// parameters (fx, fy, cx, cy and the coefficients).
constexpr int MAX_LENS_COEFFICIENTS = 8;
constexpr int MAX_INTRINSIC_PARAMETERS = 4 + MAX_LENS_COEFFICIENTS;

// Every model, simplest first.
const std::vector<LensModel>& lensModels();

// "opencv4", "opencv5", "rational" or "fisheye".
const char* lensModelName(LensModel model);
// The model of that name; false for any other text.
bool parseLensModelName(const std::string& name, LensModel& model);

// How many distortion coefficients the model has (4, 5, 8 or 4).
int lensCoefficientCount(LensModel model);
// The name of coefficient `index` of the model ("k1", "p2", ...); empty
// past its last.
const char* lensCoefficientName(LensModel model, int index);
// fx, fy, cx, cy, then the coefficients' names.
std::vector<std::string> intrinsicParameterNames(LensModel model);
