// Models as numpy arrays: the Plummer sampler of plummer_gen, the cluster
// models of cluster_gen and the model files (text or HDF5) that they write
// and the integrators read.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "arrays.h"
#include "cluster.h"
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

// cluster_gen's model for the same options: the same doubles as its file,
// with the companions and the physical scale. NaN stands for an option
// not given.
py::tuple cluster_model(std::int64_t n, std::uint64_t seed, const std::string& profile, double w0,
                        const std::string& imf, double m_min, double m_max, double binaries,
                        double a_min, double a_max, const std::string& ecc, double virial,
                        double mass, double radius, double tidal_radius) {
  models::ClusterOptions o;
  o.n = n;
  o.seed = seed;
  o.profile = profile;
  o.w0 = w0;
  o.imf = imf;
  o.m_min = m_min;
  o.m_max = m_max;
  o.binaries = binaries;
  o.a_min = a_min;
  o.a_max = a_max;
  o.ecc = ecc;
  o.virial = virial;
  o.mass = mass;
  o.radius = radius;
  o.tidal_radius = tidal_radius;
  const std::string fault = models::check_options(o);
  if (!fault.empty()) throw py::value_error(fault);
  models::Cluster c;
  {
    py::gil_scoped_release unlocked;
    c = models::build_cluster(o);
  }
  const auto count = static_cast<py::ssize_t>(c.n);
  Array m(count), x({count, py::ssize_t{3}}), v({count, py::ssize_t{3}});
  py::array_t<std::int64_t> companion(count);
  std::copy(c.m.begin(), c.m.end(), m.mutable_data());
  std::copy(c.x.begin(), c.x.end(), x.mutable_data());
  std::copy(c.v.begin(), c.v.end(), v.mutable_data());
  std::copy(c.companion.begin(), c.companion.end(), companion.mutable_data());
  py::dict info;
  info["length_pc"] = c.units.length_pc;
  info["mass_msun"] = c.units.mass_msun;
  info["time_myr"] = c.units.time_myr;
  info["velocity_kms"] = c.units.velocity_kms;
  info["n_binaries"] = c.n_binaries;
  info["tidal_radius"] = c.tidal_radius;
  info["kT"] = c.kT;
  info["n_soft"] = c.n_soft;
  info["n_overlap"] = c.n_overlap;
  return py::make_tuple(m, x, v, companion, info);
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
  mod.doc() = "Plummer and cluster models, and model files.";
  mod.attr("default_seed") = plummer::kSeed;
  mod.attr("capacity") = plummer::kCapacity;
  mod.def("count_of", &count_of, py::arg("n"), py::arg("np_"));
  mod.def("plummer", &plummer_model, py::arg("count"), py::arg("seed"));
  mod.def("cluster", &cluster_model, py::arg("n"), py::arg("seed"), py::arg("profile"),
          py::arg("w0"), py::arg("imf"), py::arg("m_min"), py::arg("m_max"), py::arg("binaries"),
          py::arg("a_min"), py::arg("a_max"), py::arg("ecc"), py::arg("virial"), py::arg("mass"),
          py::arg("radius"), py::arg("tidal_radius"));
  mod.attr("cluster_default_seed") = models::kDefaultSeed;
  mod.def("lagrangian_radii", &lagrangian_radii, py::arg("m"), py::arg("x"), py::arg("fractions"));
  mod.def("read_model", &read_model, py::arg("path"));
  mod.def("write_model", &write_model, py::arg("path"), py::arg("m"), py::arg("x"), py::arg("v"),
          py::arg("t"), py::arg("format"));
}
