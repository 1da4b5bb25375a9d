// OutputFile against what the file system shows afterwards: regular files
// replaced whole with their mode, links followed, FIFOs and devices written
// in place, other kinds refused, failures leaving the target as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "output_file.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("fileio_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
         "_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  // Only the named entries remain: no temporary file is left behind.
  void expect_only(std::initializer_list<const char*> names) const {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir_)) {
      ++n;
      bool known = false;
      for (const char* k : names) known = known || e.path().filename() == k;
      EXPECT_TRUE(known) << e.path();
    }
    EXPECT_EQ(n, names.size());
  }
  fs::path dir_;
};

TEST_F(OutputFileTest, ReplacesARegularFileWholeAndKeepsItsMode) {
  const fs::path p = dir_ / "model.inp";
  std::ofstream(p) << "old";
  ASSERT_EQ(::chmod(p.c_str(), 0600), 0);
  struct stat before;
  ASSERT_EQ(::stat(p.c_str(), &before), 0);
  {
    fileio::OutputFile out(p.string());
    std::fputs("new contents", out.stream());
    EXPECT_EQ(slurp(p), "old");  // nothing shows before the commit
    out.commit();
  }
  EXPECT_EQ(slurp(p), "new contents");
  struct stat after;
  ASSERT_EQ(::stat(p.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0600u);
  EXPECT_NE(after.st_ino, before.st_ino);              // replaced, not rewritten in place
  fileio::write_file((dir_ / "fresh").string(), "x");  // a new name: created
  EXPECT_EQ(slurp(dir_ / "fresh"), "x");
  expect_only({"model.inp", "fresh"});
}

TEST_F(OutputFileTest, AbandonedOrFailedOutputLeavesTheTargetAsItWas) {
  const fs::path p = dir_ / "keep";
  std::ofstream(p) << "precious";
  {
    fileio::OutputFile out(p.string());
    std::fputs("half", out.stream());
  }  // never committed
  EXPECT_EQ(slurp(p), "precious");
  // A full device fails at the latest when the data is flushed.
  fileio::OutputFile full("/dev/full");
  std::fputs("x", full.stream());
  EXPECT_THROW(full.commit(), fileio::FileError);
  expect_only({"keep"});
}

TEST_F(OutputFileTest, FollowsASymbolicLinkToItsTarget) {
  const fs::path target = dir_ / "target", link = dir_ / "link", dangling = dir_ / "dangling";
  std::ofstream(target) << "old";
  fs::create_symlink("target", link);
  fs::create_symlink("created", dangling);
  fileio::write_file(link.string(), "through the link");
  fileio::write_file(dangling.string(), "made");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(slurp(target), "through the link");
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_EQ(slurp(dir_ / "created"), "made");
  expect_only({"target", "link", "dangling", "created"});
}

TEST_F(OutputFileTest, WritesFifosAndDevicesInPlace) {
  const fs::path fifo = dir_ / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // No reader: refused at once, not waited on.
  try {
    fileio::write_file(fifo.string(), "nobody listens");
    ADD_FAILURE() << "wrote to a FIFO that no process reads";
  } catch (const fileio::FileError& e) {
    EXPECT_NE(std::string(e.what()).find("no process reads the FIFO"), std::string::npos)
        << e.what();
  }
  // A reader in place (the text fits the pipe's buffer, so the write ends
  // before the read).
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  fileio::write_file(fifo.string(), "down the pipe");
  char buf[64] = {};
  EXPECT_EQ(::read(reader, buf, sizeof buf), 13);
  ::close(reader);
  EXPECT_EQ(std::string(buf), "down the pipe");
  struct stat st;
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // The system's /dev/null stays a device, whoever runs this.
  fileio::write_file("/dev/null", "discarded");
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  expect_only({"pipe"});
}

TEST_F(OutputFileTest, RefusesFoldersAndMissingFolders) {
  EXPECT_THROW(fileio::write_file(dir_.string(), "x"), fileio::FileError);
  EXPECT_THROW(fileio::write_file((dir_ / "none" / "f").string(), "x"), fileio::FileError);
  EXPECT_THROW(fileio::write_file("", "x"), fileio::FileError);
  EXPECT_TRUE(fs::is_directory(dir_));
  expect_only({});
}

}  // namespace
