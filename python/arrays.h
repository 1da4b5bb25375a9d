// Conversions between numpy arrays and the integrator's vectors, with the
// shape checks that keep a wrong array from reaching the libraries. The
// Python package checks values (finite, non-negative masses) before it
// calls in; these checks only guard the memory the C++ side reads.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "scheme.h"

namespace nbforce_py {

namespace py = pybind11;
using hermite::Vec3;

// Float64, C-contiguous; other dtypes are converted on the way in.
using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The largest model the libraries take: their counts are ints and their
// device buffers hold 128 spare records past the data.
inline constexpr py::ssize_t kMaxParticles = py::ssize_t{1} << 30;

// A number for a message, in the shortest form that tells it (%g-like):
// 1e-30, not std::to_string's 0.000000.
inline std::string shown(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

inline py::ssize_t particle_count(const Array& m) {
  if (m.ndim() != 1) {
    throw py::value_error("m must have shape (n,), found " + std::to_string(m.ndim()) +
                          " dimensions");
  }
  if (m.shape(0) > kMaxParticles) {
    throw py::value_error("at most " + std::to_string(kMaxParticles) + " particles");
  }
  return m.shape(0);
}

inline std::vector<double> to_vector(const Array& m) {
  const double* p = m.data();
  return std::vector<double>(p, p + m.shape(0));
}

inline std::vector<Vec3> to_rows(const Array& a, py::ssize_t n, const char* name) {
  if (a.ndim() != 2 || a.shape(0) != n || a.shape(1) != 3) {
    throw py::value_error(std::string(name) + " must have shape (" + std::to_string(n) + ", 3)");
  }
  std::vector<Vec3> out(static_cast<std::size_t>(n));
  const double* p = a.data();
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = Vec3{p[3 * i], p[3 * i + 1], p[3 * i + 2]};
  return out;
}

inline Array from_rows(const std::vector<Vec3>& rows) {
  Array a({static_cast<py::ssize_t>(rows.size()), py::ssize_t{3}});
  double* p = a.mutable_data();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (int c = 0; c < 3; ++c) p[3 * i + static_cast<std::size_t>(c)] = rows[i][c];
  }
  return a;
}

inline Array from_vector(const std::vector<double>& v) {
  Array a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

}  // namespace nbforce_py
