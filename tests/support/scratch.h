// A fresh directory per test, with helpers to make and read files in it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive_image.h"
#include "run_program.h"
#include "test_data.h"

namespace quiver::test {

class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& relative) const { return dir_ + "/" + relative; }
  void Write(const std::string& relative, const Bytes& bytes) const;
  void Write(const std::string& relative, const std::string& text) const;
  Bytes Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  // A symbolic link at `relative` to `target`; false where links cannot be
  // made (wine makes none).
  bool Link(const std::string& target, const std::string& relative) const;
  // Writes each member at its name ("\\" separates directories too) and a
  // list.rsp naming them in order, all below `directory` ("" for the top).
  void WriteMembers(const Members& members, const std::string& directory = "") const;
  // WriteMembers, then quiver [option] out @list run there; asserts success.
  void BuildArchive(const Members& members, const std::string& option = "",
                    const std::string& directory = "") const;
  // Every path below the directory, sorted, directories with a trailing "/".
  std::vector<std::string> Tree() const;

  // A run's status and its whole transcript.
  static void ExpectTranscript(const RunResult& run, int status, const std::string& output) {
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.output, output);
  }

  RunResult Quiver(const std::vector<std::string>& args, const RunOptions& options = {}) const {
    return RunProgram(QuiverPath(), args, dir_, options);
  }
  RunResult Quiverx(const std::vector<std::string>& args, const RunOptions& options = {}) const {
    return RunProgram(QuiverxPath(), args, dir_, options);
  }

  std::string dir_;
};

}  // namespace quiver::test
