// A check that an action raises one kind of error with one exact message.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace korva_test {

template <class E, class F>
void ExpectError(F&& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const E& error) {
    EXPECT_EQ(std::string(error.what()), message);
  }
}

}  // namespace korva_test
