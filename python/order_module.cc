// One force library as an extension module: the forces and potentials of
// numpy arrays, and the Hermite integrator of this order. Built once per
// order (NBFORCE_PY_ORDER) as _order4, _order6 and _order8; each links its
// own library with the library's symbols kept inside the module.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "arrays.h"

#if NBFORCE_PY_ORDER == 4
#include "library4.h"
using Lib = hermite::Library4;
#define NBFORCE_PY_MODULE _order4
#elif NBFORCE_PY_ORDER == 6
#include "library6.h"
using Lib = hermite::Library6;
#define NBFORCE_PY_MODULE _order6
#elif NBFORCE_PY_ORDER == 8
#include "library8.h"
using Lib = hermite::Library8;
#define NBFORCE_PY_MODULE _order8
#else
#error "NBFORCE_PY_ORDER must be 4, 6 or 8"
#endif

#include "field_options.h"
#include "integrator.h"
#include "library_backend.h"
#include "resident_backend.h"
#include "softening.h"

namespace nbforce_py {
namespace {

constexpr int K = Lib::kDerivs;
using Backend = hermite::LibraryBackend<Lib>;

// The library is not re-entrant: one call at a time, from any thread. Calls
// run without the interpreter lock, so it is taken after the lock is given
// up, never the other way round.
std::mutex& library_mutex() {
  static std::mutex m;
  return m;
}

// eps = 0 is an unsoftened run, whose self terms are excluded by index.
void check_eps(double eps) {
  if (eps == 0.0) return;
  const float eps2 = static_cast<float>(eps * eps);
  if (!(eps > 0.0) || !std::isfinite(eps) || !(eps2 > 0.0f) || !std::isfinite(eps2)) {
    throw py::value_error(
        "eps must be positive (or 0: unsoftened), with eps^2 a finite positive float; found " +
        shown(eps));
  }
}

// An eps the single-precision kernels cannot use with these particles.
void check_softening(double eps, const std::vector<double>& mass, const std::vector<Vec3>& pos) {
  const std::string fault = hermite::softening_fault(eps, mass, pos);
  if (!fault.empty()) throw py::value_error(fault);
}

// The derivatives the caller predicted (acceleration for orders 6 and 8,
// jerk for 8): required where the order reads them, refused elsewhere.
std::vector<Vec3> derivative(const std::optional<Array>& a, bool needed, py::ssize_t n,
                             const char* name) {
  if (!needed) {
    if (a) {
      throw py::type_error(std::string("order ") + std::to_string(Lib::kOrder) + " takes no " +
                           name + "=");
    }
    return std::vector<Vec3>(static_cast<std::size_t>(n), Vec3{});
  }
  if (!a) {
    throw py::type_error(std::string("order ") + std::to_string(Lib::kOrder) + " needs " + name +
                         "=, an (n, 3) array");
  }
  return to_rows(*a, n, name);
}

py::tuple forces(const Array& x, const Array& v, const Array& m, double eps,
                 const py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>& i,
                 const std::optional<Array>& a, const std::optional<Array>& j) {
  const py::ssize_t n = particle_count(m);
  check_eps(eps);
  hermite::Predicted p;
  p.x = to_rows(x, n, "x");
  p.v = to_rows(v, n, "v");
  p.a = derivative(a, K >= 3, n, "a");
  p.j = derivative(j, K >= 4, n, "j");
  const std::vector<double> mass = to_vector(m);
  check_softening(eps, mass, p.x);
  if (i.ndim() != 1) throw py::value_error("i must be a one-dimensional array of indices");
  std::vector<int> list(static_cast<std::size_t>(i.shape(0)));
  for (std::size_t k = 0; k < list.size(); ++k) {
    const std::int64_t index = i.data()[k];
    if (index < 0 || index >= n) {
      throw py::value_error("index " + std::to_string(index) + " in i is outside 0 .. " +
                            std::to_string(n - 1));
    }
    list[k] = static_cast<int>(index);
  }

  std::vector<Vec3> out(list.size() * K);
  if (!list.empty()) {
    py::gil_scoped_release unlocked;
    const std::lock_guard<std::mutex> lock(library_mutex());
    Backend backend(mass, 0, static_cast<int>(n), eps);
    backend.forces(list, p, out.data());
  }
  py::tuple result(K);
  for (int d = 0; d < K; ++d) {
    Array r({static_cast<py::ssize_t>(list.size()), py::ssize_t{3}});
    double* q = r.mutable_data();
    for (std::size_t k = 0; k < list.size(); ++k) {
      for (int c = 0; c < 3; ++c) q[3 * k + static_cast<std::size_t>(c)] = out[k * K + d][c];
    }
    result[static_cast<std::size_t>(d)] = r;
  }
  return result;
}

Array potential(const Array& x, const Array& m, double eps) {
  const py::ssize_t n = particle_count(m);
  check_eps(eps);
  const std::vector<Vec3> pos = to_rows(x, n, "x");
  const std::vector<double> mass = to_vector(m);
  check_softening(eps, mass, pos);
  std::vector<double> pot(static_cast<std::size_t>(n), 0.0);
  if (n > 0) {
    py::gil_scoped_release unlocked;
    const std::lock_guard<std::mutex> lock(library_mutex());
    Backend backend(mass, 0, static_cast<int>(n), eps);
    backend.potential(pos, pot.data());
  }
  return from_vector(pot);
}

bool power_of_two(double x) {
  int e = 0;
  return x > 0.0 && std::isfinite(x) && std::frexp(x, &e) == 0.5;
}

hermite::Model make_model(const Array& m, const Array& x, const Array& v, double t0) {
  const py::ssize_t n = particle_count(m);
  if (n == 0) throw py::value_error("the model has no particles");
  if (!std::isfinite(t0)) throw py::value_error("t must be finite");
  hermite::Model model;
  model.time = t0;
  model.mass = to_vector(m);
  model.pos = to_rows(x, n, "x");
  model.vel = to_rows(v, n, "v");
  return model;
}

// regularise: 1 on, 0 off, -1 on for an unsoftened system; r_cl > 0 fixes
// the close-encounter distance (the programs' --rcl).
hermite::Settings make_settings(double eps, double eta, double dt_max, const hermite::Model& model,
                                int regularise, double r_cl) {
  check_eps(eps);
  check_softening(eps, model.mass, model.pos);
  if (!(eta > 0.0) || !std::isfinite(eta)) {
    throw py::value_error("eta must be positive, found " + shown(eta));
  }
  if (!power_of_two(dt_max)) {
    throw py::value_error("dt_max must be a power of two (such as 0.125), found " + shown(dt_max));
  }
  hermite::Settings s;
  s.eta = eta;
  s.dt_max = dt_max;
  s.eps = eps;
  s.encounters.on = regularise > 0 || (regularise < 0 && eps == 0.0);
  if (!(r_cl >= 0.0) || !std::isfinite(r_cl)) {
    throw py::value_error("rcl must not be negative, found " + std::to_string(r_cl));
  }
  s.encounters.r_cl = r_cl;
  return s;
}

// The external field of the command-line options in `args` (as the
// programs take them, fields/field_options.h) for a cluster of total mass
// m; null for an empty list. ValueError for options that do not make a
// field; the Python integrator keeps every star, so --escapers and
// --escape-radius are refused.
std::unique_ptr<fields::Field> make_field(const std::vector<std::string>& args, double m,
                                          bool* any = nullptr) {
  if (args.empty()) return nullptr;
  std::vector<std::string> text = {"nbforce"};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(text.size());
  fields::FieldSetup setup;
  try {
    const fields::FieldOptions o = fields::take_field_options(argc, argv.data());
    if (argc != 1) throw py::value_error(std::string("field: not a field option: ") + argv[1]);
    if (o.was_given("--escapers") || o.was_given("--escape-radius")) {
      throw py::value_error(
          "field: the Python integrator keeps every star (" +
          std::string(o.was_given("--escapers") ? "--escapers" : "--escape-radius") + ")");
    }
    setup = fields::make_field(o, m);
  } catch (const fields::FieldUsageError& e) {
    throw py::value_error(std::string("field: ") + e.what());
  }
  if (!setup.field) throw py::value_error("field: the options name no field");
  if (any != nullptr) *any = true;
  return std::move(setup.field);
}

// The Jacobi radius of mass m at time t in the field of the options.
double jacobi_radius(const std::vector<std::string>& field, double m, double t) {
  if (!(m > 0.0) || !std::isfinite(m))
    throw py::value_error("m must be positive, found " + shown(m));
  if (!std::isfinite(t)) throw py::value_error("t must be finite");
  if (field.empty()) throw py::value_error("field: no options given");
  return make_field(field, m)->jacobi_radius(t, m);
}

// The integrator whose states the library's resident slots hold (one set
// of slots per library); null for none.
const void*& resident_owner() {
  static const void* owner = nullptr;
  return owner;
}

// The integrator of this order over the library, on one process. The
// constructor computes the start-up forces and steps; advance() runs block
// steps up to a multiple of dt_max, where all particles are synchronised.
// With resident particles the library keeps the states; an integrator
// whose slots another one has taken over since loads all of its own again
// before its next step (the same bits: forces depend on the states alone).
class Hermite {
 public:
  Hermite(const Array& m, const Array& x, const Array& v, double eps, double eta, double dt_max,
          double t0, int regularise, double r_cl, bool resident,
          const std::vector<std::string>& field)
      : model_(make_model(m, x, v, t0)),
        settings_(make_settings(eps, eta, dt_max, model_, regularise, r_cl)),
        field_(make_field(field, total_mass(model_))),
        backend_(model_.mass, 0, model_.size(), eps),
        resident_backend_(model_.mass, 0, model_.size(), eps, resident),
        resident_(resident) {
    if (field_) {
      try {
        fields::check_half_mass_radius(*field_, 0.0, model_.mass, model_.pos);
      } catch (const fields::FieldUsageError& e) {
        throw py::value_error(std::string("field: ") + e.what());
      }
      settings_.field = field_.get();
    }
    // The backend has just sized the slots for this model: whoever held them
    // loads its states again.
    if (resident_) resident_owner() = nullptr;
    if (resident_) {
      resident_integ_.emplace(model_, settings_, resident_backend_, comm_, 0, model_.size());
    } else {
      plain_integ_.emplace(model_, settings_, backend_, comm_, 0, model_.size());
    }
    run([&] {
      claim_slots();
      each([](auto& integ) { integ.start(); });
    });
  }
  ~Hermite() {
    if (resident_owner() == this) resident_owner() = nullptr;
  }
  Hermite(const Hermite&) = delete;
  Hermite& operator=(const Hermite&) = delete;

  void advance(double t) {
    if (!std::isfinite(t)) throw py::value_error("t must be finite");
    const double h = settings_.dt_max;
    const double steps = (t - model_.time) / h;
    const double k = std::round(steps);
    if (!(std::fabs(steps - k) <= 1e-9 * std::fmax(1.0, std::fabs(k)))) {
      throw py::value_error("advance(" + shown(t) + "): t - t0 must be a multiple of " +
                            "dt_max = " + shown(h));
    }
    const double target = k * h;
    if (target < integ_time()) {
      throw py::value_error("advance(" + shown(t) +
                            "): the integrator is already at t = " + shown(time()));
    }
    // One block step at a time, so that Ctrl-C is answered after the step
    // under way: the particles are then left at that step, consistent, and
    // a later advance() goes on from there.
    while (integ_time() < target) {
      run([&] {
        if (resident_ && resident_owner() != this) {
          claim_slots();
          resident_integ_->import_state(resident_integ_->export_state());
        }
        each([](auto& integ) { integ.step(); });
      });
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
  }

  py::tuple energy() {
    hermite::Energy e;
    run([&] { each([&](auto& integ) { e = integ.energy(); }); });
    return py::make_tuple(e.kinetic, e.potential);
  }

  // The field's potential energy, sum m phi(x) (0 without a field), and
  // the work a changing field has done.
  double field_energy() {
    if (!field_) return 0.0;
    double e = 0.0;
    run([&] {
      each([&](auto& integ) {
        e = fields::external_energy(*field_, integ.time(), model_.mass, integ.positions());
      });
    });
    return e;
  }
  double work() const { return field_ ? field_->work() : 0.0; }
  double jacobi(double m) const {
    if (!field_) throw py::value_error("the integrator has no field");
    return field_->jacobi_radius(integ_time(), m);
  }

  double time() const { return model_.time + integ_time(); }
  Array positions() const {
    return from_rows(resident_ ? resident_integ_->positions() : plain_integ_->positions());
  }
  Array velocities() const {
    return from_rows(resident_ ? resident_integ_->velocities() : plain_integ_->velocities());
  }
  Array time_steps() const {
    return from_vector(resident_ ? resident_integ_->steps() : plain_integ_->steps());
  }
  long long particle_steps() const { return counters().particle_steps; }
  long long block_steps() const { return counters().block_steps; }

 private:
  using Plain = hermite::LibraryBackend<Lib>;
  using Resident = hermite::ResidentBackend<Lib>;

  template <class F>
  void each(F&& fn) {
    if (resident_) {
      fn(*resident_integ_);
    } else {
      fn(*plain_integ_);
    }
  }
  double integ_time() const { return resident_ ? resident_integ_->time() : plain_integ_->time(); }
  const hermite::Counters& counters() const {
    return resident_ ? resident_integ_->counters() : plain_integ_->counters();
  }
  // The library's slots sized for this model (another integrator may have
  // resized them); the caller loads the states.
  void claim_slots() {
    if (!resident_ || resident_owner() == this) return;
    Lib::resident_resize(model_.size());
    resident_owner() = this;
  }

  // Runs fn without the interpreter lock. A failure leaves the particles
  // part-way through a step, so every later call refuses.
  template <class F>
  void run(F&& fn) {
    if (!failure_.empty()) {
      throw std::runtime_error("the integration stopped earlier: " + failure_);
    }
    try {
      py::gil_scoped_release unlocked;
      const std::lock_guard<std::mutex> lock(library_mutex());
      fn();
    } catch (const std::exception& e) {
      failure_ = e.what();
      throw;
    }
  }

  static double total_mass(const hermite::Model& model) {
    double m = 0.0;
    for (double mi : model.mass) m += mi;
    return m;
  }

  hermite::Comm comm_;
  hermite::Model model_;
  hermite::Settings settings_;
  std::unique_ptr<fields::Field> field_;  // the field of settings_, or null
  Plain backend_;
  Resident resident_backend_;
  bool resident_;
  std::optional<hermite::Integrator<K, Plain>> plain_integ_;
  std::optional<hermite::Integrator<K, Resident>> resident_integ_;
  std::string failure_;
};

}  // namespace
}  // namespace nbforce_py

PYBIND11_MODULE(NBFORCE_PY_MODULE, mod) {
  namespace py = pybind11;
  using namespace nbforce_py;
  mod.doc() = "Forces, potentials and the Hermite integrator of one force library.";
  mod.attr("order") = Lib::kOrder;
  mod.attr("default_eta") = hermite::default_eta(Lib::kOrder);
  mod.def("forces", &forces, py::arg("x"), py::arg("v"), py::arg("m"), py::arg("eps"), py::arg("i"),
          py::arg("a") = py::none(), py::arg("j") = py::none());
  mod.def("potential", &potential, py::arg("x"), py::arg("m"), py::arg("eps"));
  mod.def("jacobi_radius", &jacobi_radius, py::arg("field"), py::arg("m"), py::arg("t") = 0.0);
  // Each order's module keeps its own Hermite type: the three modules are
  // loaded side by side, and a global registration would clash.
  py::class_<Hermite>(mod, "Hermite", py::module_local())
      .def(py::init<const Array&, const Array&, const Array&, double, double, double, double, int,
                    double, bool, const std::vector<std::string>&>(),
           py::arg("m"), py::arg("x"), py::arg("v"), py::arg("eps"), py::arg("eta"),
           py::arg("dt_max"), py::arg("t"), py::arg("regularise") = -1, py::arg("rcl") = 0.0,
           py::arg("resident") = false, py::arg("field") = std::vector<std::string>{})
      .def("field_energy", &Hermite::field_energy)
      .def("jacobi_radius", &Hermite::jacobi, py::arg("m"))
      .def_property_readonly("work", &Hermite::work)
      .def("advance", &Hermite::advance, py::arg("t"))
      .def("energy", &Hermite::energy)
      .def_property_readonly("t", &Hermite::time)
      .def_property_readonly("x", &Hermite::positions)
      .def_property_readonly("v", &Hermite::velocities)
      .def_property_readonly("dt", &Hermite::time_steps)
      .def_property_readonly("steps", &Hermite::particle_steps)
      .def_property_readonly("block_steps", &Hermite::block_steps);
}
