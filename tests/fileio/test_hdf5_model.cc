// HDF5 models against the text format: the same doubles both ways, the
// layout the format promises, and refusals of broken files.
#include <gtest/gtest.h>
#include <hdf5.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "hdf5_model.h"
#include "model.h"
#include "output_file.h"

namespace {

namespace fs = std::filesystem;

hermite::Model sample(int n) {
  hermite::Model m;
  m.number = 7;
  m.time = 0.3125;
  for (int i = 0; i < n; ++i) {
    const double s = std::sin(1.0 + i), c = std::cos(2.0 * i + 0.5);
    m.mass.push_back(1.0 / n);
    m.pos.push_back({s, c * 1e-3, s * c * 7.0});
    m.vel.push_back({-c, s / 3.0, 1e-300 * s});
  }
  return m;
}

fs::path scratch(const char* stem, const char* ending) {
  return fs::temp_directory_path() / (stem + std::to_string(::getpid()) + ending);
}

TEST(Hdf5Model, RoundTripGivesTheDoublesOfTheTextFormat) {
  const hermite::Model m = sample(100);
  const fs::path h5 = scratch("model_", ".h5"), text = scratch("model_", ".inp");
  hermite::ModelTags tags;
  tags.order = 4;
  tags.eps = 0.015625;
  hermite::write_model(h5.string(), m, hermite::ModelFormat::kByName, tags);
  hermite::write_model(text.string(), m);
  EXPECT_TRUE(fileio::is_hdf5_file(h5.string()));
  EXPECT_FALSE(fileio::is_hdf5_file(text.string()));
  const hermite::Model a = hermite::read_model(h5.string());
  const hermite::Model b = hermite::read_model(text.string());
  for (const hermite::Model* r : {&a, &b}) {
    EXPECT_EQ(r->number, m.number);
    EXPECT_EQ(r->time, m.time);
    EXPECT_EQ(r->mass, m.mass);
    EXPECT_EQ(r->pos, m.pos);
    EXPECT_EQ(r->vel, m.vel);
  }
  // The layout, read with the library itself: shapes and attributes.
  const hid_t f = H5Fopen(h5.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  ASSERT_GE(f, 0);
  const hid_t set = H5Dopen2(f, "position", H5P_DEFAULT);
  const hid_t space = H5Dget_space(set);
  hsize_t dims[2] = {0, 0};
  EXPECT_EQ(H5Sget_simple_extent_ndims(space), 2);
  H5Sget_simple_extent_dims(space, dims, nullptr);
  EXPECT_EQ(dims[0], 100u);
  EXPECT_EQ(dims[1], 3u);
  int order = 0;
  double eps = 0.0, g = 0.0;
  const hid_t ao = H5Aopen(f, "order", H5P_DEFAULT), ae = H5Aopen(f, "eps", H5P_DEFAULT),
              ag = H5Aopen(f, "G", H5P_DEFAULT);
  H5Aread(ao, H5T_NATIVE_INT, &order);
  H5Aread(ae, H5T_NATIVE_DOUBLE, &eps);
  H5Aread(ag, H5T_NATIVE_DOUBLE, &g);
  EXPECT_EQ(order, 4);
  EXPECT_EQ(eps, 0.015625);
  EXPECT_EQ(g, 1.0);
  EXPECT_GT(H5Aexists(f, "units"), 0);
  for (hid_t id : {ao, ae, ag}) H5Aclose(id);
  H5Sclose(space);
  H5Dclose(set);
  H5Fclose(f);
  fs::remove(h5);
  fs::remove(text);
}

TEST(Hdf5Model, RefusesTruncatedAndIncompleteFiles) {
  const fs::path h5 = scratch("broken_", ".h5");
  hermite::write_model(h5.string(), sample(50));
  const auto size = fs::file_size(h5);
  fs::resize_file(h5, size / 2);
  EXPECT_THROW(hermite::read_model(h5.string()), hermite::ModelError);
  // Not HDF5 beyond its first bytes.
  std::ofstream(h5) << "\x89HDF\r\n\x1a\n and then text";
  EXPECT_THROW(hermite::read_model(h5.string()), hermite::ModelError);
  // A file without the id dataset.
  const hid_t f = H5Fcreate(h5.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
  ASSERT_GE(f, 0);
  H5Fclose(f);
  try {
    hermite::read_model(h5.string());
    ADD_FAILURE() << "an empty HDF5 file was read";
  } catch (const hermite::ModelError& e) {
    EXPECT_NE(std::string(e.what()).find("no attribute 'N'"), std::string::npos) << e.what();
  }
  fs::remove(h5);
}

}  // namespace
