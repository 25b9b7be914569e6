// What plug-ins post through the message suite. Internal to the host library.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace ofxhost {

// The messages posted to one host, in order, as "type: text".
class MessageLog {
public:
  void post(const std::string &type, const std::string &text);
  std::vector<std::string> all() const;

private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

// The errors a plug-in posts while one of its actions runs, kept for the
// report of that action should it fail: the status alone cannot say which
// clip, parameter or format was at fault.
class PostedErrors {
public:
  // handle: the effect the action is about; nullptr for load and unload.
  explicit PostedErrors(const void *handle) : handle_(handle) {}
  PostedErrors(const PostedErrors &) = delete;
  PostedErrors &operator=(const PostedErrors &) = delete;

  // Keeps text unless it is about another effect or already kept. Called
  // from any of the action's threads.
  void add(const void *handle, const std::string &text);
  // The texts kept, joined by "; ".
  std::string text() const;

private:
  const void *handle_;
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

// Makes errors receive what the plug-in posts on this thread, for the
// guard's lifetime: the action's own thread, and each pool thread while
// it runs one of the action's tasks.
class PostedErrorsScope {
public:
  explicit PostedErrorsScope(PostedErrors *errors);
  ~PostedErrorsScope();
  PostedErrorsScope(const PostedErrorsScope &) = delete;
  PostedErrorsScope &operator=(const PostedErrorsScope &) = delete;

private:
  PostedErrors *previous_;
};
// The collector of the action running on this thread, or nullptr.
PostedErrors *postedErrors();

} // namespace ofxhost
