// The fields' command line: units, the fields it makes, and what it
// refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "field_options.h"

namespace fields_test {
namespace {

using fields::FieldOptions;
using fields::FieldUsageError;

// The options of a command line; the arguments the integrator is left with.
FieldOptions take(std::vector<std::string> args, std::vector<std::string>* rest = nullptr) {
  args.insert(args.begin(), "hermite4");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(args.size());
  FieldOptions o = fields::take_field_options(argc, argv.data());
  if (rest != nullptr) rest->assign(argv.begin() + 1, argv.begin() + argc);
  return o;
}

fields::FieldSetup setup(const std::vector<std::string>& args, double m = 1.0) {
  return fields::make_field(take(args), m);
}

TEST(FieldOptions, UnitsAndTheFieldsTheyMake) {
  std::vector<std::string> rest;
  const FieldOptions o = take({"--eta", "0.02", "--galaxy=point-mass:1e11", "--orbit", "8",
                               "model.inp", "--mass", "1e5", "--radius", "5"},
                              &rest);
  EXPECT_EQ(rest, (std::vector<std::string>{"--eta", "0.02", "model.inp"}));
  // G in SI units, Msun and pc: the velocity unit sqrt(G M / R).
  const double G = 6.6743e-11, msun = 1.98847e30, pc = 3.0856776e16, myr = 3.15576e13;
  const fields::Units u = fields::nbody_units(1e5, 5.0);
  const double v = std::sqrt(G * 1e5 * msun / (5.0 * pc)) / 1000.0;
  EXPECT_NEAR(u.velocity_kms, v, 1e-4 * v);
  EXPECT_NEAR(u.time_myr, 5.0 * pc / (v * 1000.0) / myr, 1e-4 * u.time_myr);

  // r_J = R (M_c / 3 M_g)^(1/3) in Hill's field and the exact one.
  const double rj_pc = 8000.0 * std::cbrt(1e5 / 3e11);
  for (const char* tides : {"hill", "exact"}) {
    const auto s = setup({"--galaxy", "point-mass:1e11", "--orbit", "8", "--mass", "1e5",
                          "--radius", "5", "--tides", tides});
    ASSERT_TRUE(s.field);
    EXPECT_NEAR(s.field->jacobi_radius(0.0, 1.0) * 5.0, rj_pc, 1e-9 * rj_pc) << tides;
    EXPECT_NE(s.line.find("Jacobi radius"), std::string::npos) << s.line;
    EXPECT_NE(s.line.find("Myr"), std::string::npos) << s.line;
    EXPECT_EQ(s.field->velocity_dependent(), true);
  }
  // Hill's field in N-body units; a general orbit in a sum of components.
  const auto hill = setup({"--omega", "0.1"});
  EXPECT_DOUBLE_EQ(hill.field->frame_omega(), 0.1);
  const auto orbit = setup({"--galaxy",
                            "hernquist:1e10,0.7+miyamoto-nagai:6.8e10,3,0.28+nfw:1e12,250,10+"
                            "logarithmic:200,1,0.9+plummer:1e9,0.3",
                            "--orbit-state", "8,0,0.5,0,220,30", "--mass", "1e5", "--radius", "5"});
  EXPECT_TRUE(orbit.field->time_dependent());
  EXPECT_FALSE(orbit.field->velocity_dependent());
  // No field options, no field.
  EXPECT_FALSE(setup({"--eta", "0.1"}).field);
}

TEST(FieldOptions, RefusesWhatDoesNotFit) {
  const std::vector<std::string> units = {"--mass", "1e5", "--radius", "5"};
  auto with_units = [&](std::vector<std::string> a) {
    a.insert(a.end(), units.begin(), units.end());
    return a;
  };
  const std::vector<std::vector<std::string>> bad = {
      with_units({"--galaxy", "point-mass:0", "--orbit", "8"}),
      with_units({"--galaxy", "point-mass:-1e11", "--orbit", "8"}),
      with_units({"--galaxy", "black-hole:1e6", "--orbit", "8"}),
      with_units({"--galaxy", "hernquist:1e10", "--orbit", "8"}),
      with_units({"--galaxy", "hernquist:1e10,1", "--orbit", "8", "--tides", "hill"}),
      with_units({"--galaxy", "point-mass:1e11"}),
      with_units({"--galaxy", "point-mass:1e11", "--orbit", "8", "--orbit-state", "8,0,0,0,220,0"}),
      with_units({"--galaxy", "point-mass:1e11", "--orbit-state", "8,0,0,0,220"}),
      with_units({"--galaxy", "point-mass:1e11", "--orbit-state", "0,0,0,0,220,0"}),
      {"--galaxy", "point-mass:1e11", "--orbit", "8"},
      {"--galaxy", "point-mass:1e11", "--orbit", "8", "--mass", "1e5"},
      {"--omega", "0.1", "--galaxy", "point-mass:1e11"},
      {"--omega", "-1"},
      {"--orbit", "8"},
      {"--escape-radius", "-1", "--omega", "1"},
      {"--tides", "roche", "--omega", "1"},
      {"--escapers"},
  };
  for (const auto& args : bad) {
    std::string text;
    for (const auto& a : args) text += a + " ";
    EXPECT_THROW(setup(args), FieldUsageError) << text;
  }
  // A cluster larger than its Jacobi radius.
  const auto hill = setup({"--omega", "1"});
  const std::vector<double> m = {0.25, 0.25, 0.25, 0.25};
  const double rj = hill.field->jacobi_radius(0.0, 1.0);
  std::vector<fields::Vec3> small, large;
  for (int i = 0; i < 4; ++i) {
    const double s = i % 2 == 0 ? 1.0 : -1.0;
    small.push_back({0.3 * rj * s, 0.1 * i, 0.0});
    large.push_back({1.5 * rj * s, 0.1 * i, 0.0});
  }
  EXPECT_NO_THROW(fields::check_half_mass_radius(*hill.field, 0.0, m, small));
  EXPECT_THROW(fields::check_half_mass_radius(*hill.field, 0.0, m, large), FieldUsageError);
}

}  // namespace
}  // namespace fields_test
