#include "commands/password_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include "common/exceptions.h"
#include "support/odbc_test_env.h"

namespace velquarn {
namespace {

using testing::TempDir;

class PasswordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
    if (credentials != nullptr) saved_credentials_ = credentials;
    had_credentials_ = credentials != nullptr;
    ::unsetenv("CREDENTIALS_DIRECTORY");
  }
  void TearDown() override {
    if (had_credentials_) {
      ::setenv("CREDENTIALS_DIRECTORY", saved_credentials_.c_str(), 1);
    } else {
      ::unsetenv("CREDENTIALS_DIRECTORY");
    }
  }
  std::string Write(const std::string& name, const std::string& text, mode_t mode) {
    const std::string path = dir_.File(name);
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
    return path;
  }

  TempDir dir_{"velquarn-pwfile"};
  std::string saved_credentials_;
  bool had_credentials_ = false;
};

TEST_F(PasswordFileTest, RelativePathsFollowCredentialsDirectoryElseTheConfigFolder) {
  EXPECT_EQ(ResolvePasswordFilePath("/run/keys/db", "/etc/velquarn/velquarn.ini"), "/run/keys/db");
  EXPECT_EQ(ResolvePasswordFilePath("db.pw", "/etc/velquarn/velquarn.ini"), "/etc/velquarn/db.pw");
  ::setenv("CREDENTIALS_DIRECTORY", "/run/credentials/VelquarnSvc.service", 1);
  EXPECT_EQ(ResolvePasswordFilePath("db.pw", "/etc/velquarn/velquarn.ini"),
            "/run/credentials/VelquarnSvc.service/db.pw");
  EXPECT_EQ(ResolvePasswordFilePath("/run/keys/db", "/etc/velquarn/velquarn.ini"), "/run/keys/db");
}

TEST_F(PasswordFileTest, FirstLineWithoutItsLineEnd) {
  EXPECT_EQ(ReadPasswordFile(Write("a", "ab;cd}e\r\nsecond line\n", 0600)), "ab;cd}e");
  EXPECT_EQ(ReadPasswordFile(Write("b", "no line end", 0400)), "no line end");
  EXPECT_EQ(ReadPasswordFile(Write("c", "", 0600)), "");
  // UTF-8 in the file, code page 1252 inside the server.
  EXPECT_EQ(ReadPasswordFile(Write("d", "l\xC3\xB6sen\n", 0600)), "l\xF6sen");
}

TEST_F(PasswordFileTest, RefusesFilesThatOthersMayReadWithAClearMessage) {
  const std::string world = Write("world", "pw\n", 0644);
  try {
    ReadPasswordFile(world);
    ADD_FAILURE() << "a world-readable file was read";
  } catch (const Exception& error) {
    EXPECT_EQ(std::string(error.what()),
              "PasswordFile " + world +
                  " is readable by group or others (mode 0644); allow its owner only, chmod 600");
  }
  EXPECT_THROW(ReadPasswordFile(Write("group", "pw\n", 0640)), Exception);
  EXPECT_NO_THROW(ReadPasswordFile(Write("owner", "pw\n", 0600)));
}

TEST_F(PasswordFileTest, MissingFilesAndFoldersAreErrorsNamingThePath) {
  try {
    ReadPasswordFile(dir_.File("missing"));
    ADD_FAILURE();
  } catch (const Exception& error) {
    EXPECT_NE(std::string(error.what()).find(dir_.File("missing") + " cannot be opened"),
              std::string::npos);
  }
  ::chmod(dir_.Path().c_str(), 0700);
  EXPECT_THROW(ReadPasswordFile(dir_.Path().string()), Exception);
}

}  // namespace
}  // namespace velquarn
