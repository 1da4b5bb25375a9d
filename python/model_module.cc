// Models as numpy arrays: the Plummer sampler of plummer_gen and the model
// file format that plummer_gen writes and the integrators read.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "arrays.h"
#include "model.h"
#include "plummer.h"
#include "radii.h"

namespace nbforce_py {
namespace {

// plummer_gen's model for its two counts (particles in units of 1024, and
// the divisor), drawn after seeding the C library's generator with `seed`:
// with plummer_gen's seed the same doubles as its file.
py::tuple plummer_model(std::int32_t units, std::int32_t divisor, unsigned seed) {
  const plummer::Arguments args{units, divisor};
  const plummer::ParticleCount count = plummer::particle_count(args);
  if (count.error != plummer::CountError::kNone) {
    throw py::value_error(plummer::count_error_message(args, count));
  }
  if (count.n <= 0) {
    throw py::value_error(
        "the model has no particles: n * np_ * (1024 // np_) = " + std::to_string(count.n) +
        " (n = " + std::to_string(units) + ", np_ = " + std::to_string(divisor) + ")");
  }
  const plummer::Particles p(count.n);
  if (!p.ok()) throw std::bad_alloc();
  {
    py::gil_scoped_release unlocked;
    std::srand(seed);
    plummer::sample(count.n, p, nullptr);
    plummer::correct_centre_of_mass(count.n, p);
  }
  const auto n = static_cast<py::ssize_t>(count.n);
  Array m(n), x({n, py::ssize_t{3}}), v({n, py::ssize_t{3}});
  std::copy(p.m(), p.m() + n, m.mutable_data());
  std::copy(&p.x()[0][0], &p.x()[0][0] + 3 * n, x.mutable_data());
  std::copy(&p.v()[0][0], &p.v()[0][0] + 3 * n, v.mutable_data());
  return py::make_tuple(m, x, v);
}

py::tuple read_model(const std::string& path) {
  hermite::Model model;
  try {
    model = hermite::read_model(path);
  } catch (const hermite::ModelError& e) {
    throw py::value_error(e.what());
  }
  return py::make_tuple(from_vector(model.mass), from_rows(model.pos), from_rows(model.vel),
                        model.time);
}

void write_model(const std::string& path, const Array& m, const Array& x, const Array& v,
                 double t) {
  hermite::Model model;
  const py::ssize_t n = particle_count(m);
  model.time = t;
  model.mass = to_vector(m);
  model.pos = to_rows(x, n, "x");
  model.vel = to_rows(v, n, "v");
  try {
    hermite::write_model(path, model);
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
  mod.def("plummer", &plummer_model, py::arg("n"), py::arg("np_"), py::arg("seed"));
  mod.def("lagrangian_radii", &lagrangian_radii, py::arg("m"), py::arg("x"), py::arg("fractions"));
  mod.def("read_model", &read_model, py::arg("path"));
  mod.def("write_model", &write_model, py::arg("path"), py::arg("m"), py::arg("x"), py::arg("v"),
          py::arg("t"));
}
