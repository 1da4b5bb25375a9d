// Models as numpy arrays: the Plummer sampler of plummer_gen and the model
// files (text or HDF5) that plummer_gen writes and the integrators read.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "arrays.h"
#include "command_line.h"
#include "model.h"
#include "plummer.h"
#include "radii.h"

namespace nbforce_py {
namespace {

// The particle count of plummer_gen's two numbers (particles in units of
// 1024, and the divisor), or a ValueError saying why there is none.
std::int64_t count_of(std::int32_t units, std::int32_t divisor) {
  const plummer::ParticleCount count = plummer::particle_count(plummer::Arguments{units, divisor});
  const std::string given =
      " (n = " + std::to_string(units) + ", np_ = " + std::to_string(divisor) + ")";
  switch (count.error) {
    case plummer::CountError::kNone:
      break;
    case plummer::CountError::kNegativeUnits:
      throw py::value_error("n must not be negative" + given);
    case plummer::CountError::kNegativeDivisor:
      throw py::value_error("np_ must not be negative" + given);
    case plummer::CountError::kZeroDivisor:
      throw py::value_error("np_ must not be 0: the count is n * np_ * (1024 // np_)" + given);
    case plummer::CountError::kAboveCapacity:
      throw py::value_error(std::to_string(count.n) + " particles exceed the capacity of " +
                            std::to_string(plummer::kCapacity) + given);
  }
  if (count.n <= 0) {
    throw py::value_error(
        "the model has no particles: n * np_ * (1024 // np_) = " + std::to_string(count.n) + given);
  }
  return count.n;
}

// plummer_gen's model of `count` particles drawn after seeding the C
// library's generator with `seed`: the same doubles as its file.
py::tuple plummer_model(std::int64_t count, unsigned seed) {
  if (count <= 0 || count > plummer::kCapacity) {
    throw py::value_error("count must lie in 1 .. " + std::to_string(plummer::kCapacity) +
                          ", found " + std::to_string(count));
  }
  const plummer::Particles p(count);
  if (!p.ok()) throw std::bad_alloc();
  {
    py::gil_scoped_release unlocked;
    plummer::build_model(count, seed, p, nullptr);
  }
  const auto n = static_cast<py::ssize_t>(count);
  Array m(n), x({n, py::ssize_t{3}}), v({n, py::ssize_t{3}});
  std::copy(p.m(), p.m() + n, m.mutable_data());
  std::copy(&p.x()[0][0], &p.x()[0][0] + 3 * n, x.mutable_data());
  std::copy(&p.v()[0][0], &p.v()[0][0] + 3 * n, v.mutable_data());
  return py::make_tuple(m, x, v);
}

py::tuple read_model(const std::string& path) {
  hermite::Model model;
  std::vector<std::string> warnings;
  try {
    model = hermite::read_model(path, &warnings);
  } catch (const hermite::ModelError& e) {
    throw py::value_error(e.what());
  }
  for (const std::string& w : warnings) {
    if (PyErr_WarnEx(PyExc_UserWarning, w.c_str(), 1) != 0) throw py::error_already_set();
  }
  return py::make_tuple(from_vector(model.mass), from_rows(model.pos), from_rows(model.vel),
                        model.time);
}

void write_model(const std::string& path, const Array& m, const Array& x, const Array& v, double t,
                 const std::string& format) {
  hermite::Model model;
  const py::ssize_t n = particle_count(m);
  model.time = t;
  model.mass = to_vector(m);
  model.pos = to_rows(x, n, "x");
  model.vel = to_rows(v, n, "v");
  try {
    const hermite::ModelFormat f = format == "hdf5"   ? hermite::ModelFormat::kHdf5
                                   : format == "text" ? hermite::ModelFormat::kText
                                                      : hermite::ModelFormat::kByName;
    hermite::write_model(path, model, f);
  } catch (const hermite::ModelError& e) {
    PyErr_SetString(PyExc_OSError, e.what());
    throw py::error_already_set();
  }
}

Array lagrangian_radii(const Array& m, const Array& x, const Array& fractions) {
  const py::ssize_t n = particle_count(m);
  if (fractions.ndim() != 1) throw py::value_error("fractions must be one-dimensional");
  return from_vector(
      hermite::lagrangian_radii(to_vector(m), to_rows(x, n, "x"), to_vector(fractions)));
}

}  // namespace
}  // namespace nbforce_py

PYBIND11_MODULE(_model, mod) {
  namespace py = pybind11;
  using namespace nbforce_py;
  mod.doc() = "Plummer models and model files.";
  mod.attr("default_seed") = plummer::kSeed;
  mod.attr("capacity") = plummer::kCapacity;
  mod.def("count_of", &count_of, py::arg("n"), py::arg("np_"));
  mod.def("plummer", &plummer_model, py::arg("count"), py::arg("seed"));
  mod.def("lagrangian_radii", &lagrangian_radii, py::arg("m"), py::arg("x"), py::arg("fractions"));
  mod.def("read_model", &read_model, py::arg("path"));
  mod.def("write_model", &write_model, py::arg("path"), py::arg("m"), py::arg("x"), py::arg("v"),
          py::arg("t"), py::arg("format"));
}
