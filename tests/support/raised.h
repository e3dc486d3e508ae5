#pragma once
// What an action raised, for tests that look at an exception's message or fields. Nothing raised is a test
// failure (and no value); an exception of another type fails the test as every escaping exception does.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

namespace testsupport {

template <typename E, typename Action>
std::optional<E> Raised(Action&& action) {
  try {
    std::forward<Action>(action)();
  } catch (const E& error) {
    return error;
  }
  ADD_FAILURE() << "nothing was raised";
  return std::nullopt;
}

// The message of the E that action raised; "(nothing raised)" when it raised nothing.
template <typename E, typename Action>
std::string RaisedMessage(Action&& action) {
  const std::optional<E> error = Raised<E>(std::forward<Action>(action));
  return error ? error->Message() : "(nothing raised)";
}

}  // namespace testsupport
