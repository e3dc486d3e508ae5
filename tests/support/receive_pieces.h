#pragma once
// The receive sizes every test on the scripted peer runs with: whole receives, and receives of one byte, which
// split every line, CR LF, header block and chunk size. A suite of such tests is value-parameterized by the
// piece and instantiated with
//   INSTANTIATE_TEST_SUITE_P(Pieces, SuiteTest, testsupport::kReceivePieces, testsupport::ReceivePieceName);
#include <gtest/gtest.h>

#include <string>

#include "support/scripted_io_handler.h"

namespace testsupport {

inline const auto kReceivePieces = ::testing::Values(ScriptedIOHandler::kWhole, 1);

inline std::string ReceivePieceName(const ::testing::TestParamInfo<int>& info) {
  return info.param == 1 ? "OneByteReceives" : "WholeReceives";
}

}  // namespace testsupport
