// The core diagnostics of diagnostics/core.h on numpy arrays: density
// centre, core radius and density, radii about the density centre, hard
// binaries and escapers.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "arrays.h"
#include "core.h"

namespace nbforce_py {
namespace {

static_assert(sizeof(diagnostics::Vec3) == 3 * sizeof(double),
              "rows of an (n, 3) array are read as Vec3 in place");

void check_rows(const Array& a, py::ssize_t n, const char* name) {
  if (a.ndim() != 2 || a.shape(0) != n || a.shape(1) != 3) {
    throw py::value_error(std::string(name) + " must have shape (" + std::to_string(n) + ", 3)");
  }
}

// (core values as a tuple, binaries as (i, j, a, e, binding) arrays).
py::tuple core(const Array& m, const Array& x, const Array& v, double eps,
               const std::optional<Array>& pot) {
  const py::ssize_t n = particle_count(m);
  check_rows(x, n, "x");
  check_rows(v, n, "v");
  diagnostics::Snapshot s;
  s.n = static_cast<std::size_t>(n);
  s.m = m.data();
  s.x = reinterpret_cast<const diagnostics::Vec3*>(x.data());
  s.v = reinterpret_cast<const diagnostics::Vec3*>(v.data());
  s.eps = eps;
  if (pot) {
    if (pot->ndim() != 1 || pot->shape(0) != n) {
      throw py::value_error("pot must have shape (" + std::to_string(n) + ",)");
    }
    s.pot = pot->data();
  }
  diagnostics::Core c;
  std::vector<diagnostics::Binary> found;
  try {
    py::gil_scoped_release unlocked;
    c = diagnostics::core_diagnostics(s, &found);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  }
  const auto nb = static_cast<py::ssize_t>(found.size());
  py::array_t<std::int64_t> bi(nb), bj(nb);
  Array ba(nb), be(nb), eb(nb);
  for (py::ssize_t k = 0; k < nb; ++k) {
    const diagnostics::Binary& b = found[static_cast<std::size_t>(k)];
    bi.mutable_data()[k] = b.i;
    bj.mutable_data()[k] = b.j;
    ba.mutable_data()[k] = b.a;
    be.mutable_data()[k] = b.e;
    eb.mutable_data()[k] = b.binding;
  }
  Array centre(3), radii(static_cast<py::ssize_t>(c.radii.size()));
  for (int k = 0; k < 3; ++k) centre.mutable_data()[k] = c.centre[k];
  for (std::size_t k = 0; k < c.radii.size(); ++k) radii.mutable_data()[k] = c.radii[k];
  const py::tuple values =
      py::make_tuple(centre, c.rc, c.rhoc, radii, c.nbin, c.ebin, c.nesc, c.kT);
  return py::make_tuple(values, py::make_tuple(bi, bj, ba, be, eb));
}

}  // namespace
}  // namespace nbforce_py

PYBIND11_MODULE(_diagnostics, mod) {
  namespace py = pybind11;
  using namespace nbforce_py;
  mod.doc() = "Density centre, core, hard binaries and escapers of a star cluster.";
  py::list fractions;
  for (double f : diagnostics::kCoreFractions) fractions.append(f);
  mod.attr("fractions") = fractions;
  mod.attr("escape_radius") = diagnostics::kEscapeRadius;
  mod.attr("neighbours") = diagnostics::kDensityNeighbours;
  mod.def("core", &core, py::arg("m"), py::arg("x"), py::arg("v"), py::arg("eps"), py::arg("pot"));
}
