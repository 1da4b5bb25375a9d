// The core diagnostics of diagnostics/core.h on numpy arrays: density
// centre, core radius and density, radii about the density centre, hard
// binaries and escapers.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "arrays.h"
#include "core.h"
#include "mass_groups.h"

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
// The groups of mass_groups.h as a list of (count, radii, mean mass inside
// the first radius).
py::list group_list(const std::vector<diagnostics::GroupRadii>& groups) {
  py::list out;
  for (const diagnostics::GroupRadii& g : groups) {
    Array radii(static_cast<py::ssize_t>(g.radii.size()));
    std::copy(g.radii.begin(), g.radii.end(), radii.mutable_data());
    out.append(py::make_tuple(g.count, radii, g.mean_inside));
  }
  return out;
}

std::vector<int> groups_of(const Array& m, const std::vector<double>& bounds) {
  if (bounds.empty()) return {};
  for (std::size_t k = 0; k < bounds.size(); ++k) {
    if (!(bounds[k] > 0.0) || !std::isfinite(bounds[k]) ||
        (k > 0 && !(bounds[k] > bounds[k - 1]))) {
      throw py::value_error("mass group boundaries must be positive, finite and increasing");
    }
  }
  return diagnostics::assign_mass_groups(m.data(), static_cast<std::size_t>(m.shape(0)), bounds);
}

// Radii of the mass groups about `centre` for the fractions.
py::list group_radii(const Array& m, const Array& x, const std::vector<double>& bounds,
                     const Array& centre, const std::vector<double>& fractions) {
  const py::ssize_t n = particle_count(m);
  check_rows(x, n, "x");
  if (centre.ndim() != 1 || centre.shape(0) != 3)
    throw py::value_error("centre must have shape (3,)");
  const std::vector<int> group = groups_of(m, bounds);
  const diagnostics::Vec3 c{centre.data()[0], centre.data()[1], centre.data()[2]};
  return group_list(diagnostics::group_radii(
      m.data(), reinterpret_cast<const diagnostics::Vec3*>(x.data()), static_cast<std::size_t>(n),
      group.data(), static_cast<int>(bounds.size()) + 1, c, fractions));
}

py::tuple core(const Array& m, const Array& x, const Array& v, double eps,
               const std::optional<Array>& pot, const std::vector<double>& mass_groups) {
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
  const std::vector<int> group = groups_of(m, mass_groups);
  if (!group.empty()) {
    s.group = group.data();
    s.groups = static_cast<int>(mass_groups.size()) + 1;
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
  const py::tuple values = py::make_tuple(centre, c.rc, c.rhoc, radii, c.nbin, c.ebin, c.nesc, c.kT,
                                          group_list(c.groups));
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
  mod.def("core", &core, py::arg("m"), py::arg("x"), py::arg("v"), py::arg("eps"), py::arg("pot"),
          py::arg("mass_groups"));
  mod.def("group_radii", &group_radii, py::arg("m"), py::arg("x"), py::arg("bounds"),
          py::arg("centre"), py::arg("fractions"));
}
