// The memory suite (plain heap blocks, tracked so a foreign pointer is
// refused) and the message suite (messages are recorded on the host, and
// errors also on the action they explain).
#include "Effects.h"
#include "Handles.h"
#include "HostState.h"
#include "Messages.h"
#include "Suites.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>

namespace ofxhost {
namespace {

OfxStatus memoryAlloc(void * /*handle*/, size_t nBytes, void **data) {
  if (!data)
    return kOfxStatErrValue;
  void *block = std::calloc(nBytes ? nBytes : 1, 1);
  if (!block)
    return kOfxStatErrMemory;
  registerHandle(block, HandleKind::Memory);
  *data = block;
  return kOfxStatOK;
}

OfxStatus memoryFree(void *data) {
  if (!data)
    return kOfxStatOK;
  if (!isHandle(data, HandleKind::Memory))
    return kOfxStatErrBadHandle;
  unregisterHandle(data);
  std::free(data);
  return kOfxStatOK;
}

const OfxMemorySuiteV1 memory = {memoryAlloc, memoryFree};

// The host a message belongs to: the one of the effect it names, else the
// one whose action runs on this thread; none for a call from elsewhere.
Host::Impl *hostOf(void *handle) {
  if (isHandle(handle, HandleKind::Effect)) {
    EffectImpl *effect = static_cast<EffectImpl *>(handle);
    if (effect->plugin && effect->plugin->host)
      return effect->plugin->host;
  }
  return threadHost();
}

std::string format(const char *fmt, va_list ap) {
  if (!fmt)
    return "";
  va_list copy;
  va_copy(copy, ap);
  const int size = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (size <= 0)
    return "";
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), fmt, ap);
  text.resize(static_cast<size_t>(size));
  return text;
}

thread_local PostedErrors *currentErrors = nullptr;

bool isError(const std::string &kind) {
  return kind == kOfxMessageError || kind == kOfxMessageFatal;
}

OfxStatus post(void *handle, const char *type, const char *fmt, va_list ap) {
  return guarded([&]() -> OfxStatus {
    const std::string text = format(fmt, ap);
    const std::string kind = type ? type : "";
    if (Host::Impl *host = hostOf(handle))
      host->messages.post(kind, text);
    if (currentErrors && isError(kind) && !text.empty())
      currentErrors->add(handle, text);
    // Nobody is there to answer a question; take the cautious answer.
    if (kind == kOfxMessageQuestion)
      return kOfxStatReplyNo;
    return kOfxStatOK;
  });
}

OfxStatus message(void *handle, const char *type, const char * /*id*/,
                  const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  OfxStatus status = post(handle, type, fmt, ap);
  va_end(ap);
  return status;
}

OfxStatus setPersistentMessage(void *handle, const char *type,
                               const char * /*id*/, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  OfxStatus status = post(handle, type, fmt, ap);
  va_end(ap);
  return status;
}

OfxStatus clearPersistentMessage(void *) { return kOfxStatOK; }

const OfxMessageSuiteV1 messageV1 = {message};
const OfxMessageSuiteV2 messageV2 = {message, setPersistentMessage,
                                     clearPersistentMessage};

} // namespace

void MessageLog::post(const std::string &type, const std::string &text) {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(type + ": " + text);
}

std::vector<std::string> MessageLog::all() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

void PostedErrors::add(const void *handle, const std::string &text) {
  // A few are enough to explain a failure; a plug-in that posts from every
  // band of a render must not grow the report without bound.
  const size_t kept = 4;
  if (handle && handle_ && handle != handle_)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (texts_.size() >= kept)
    return;
  for (const std::string &known : texts_)
    if (known == text)
      return;
  texts_.push_back(text);
}

std::string PostedErrors::text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string joined;
  for (const std::string &text : texts_)
    joined += (joined.empty() ? "" : "; ") + text;
  return joined;
}

PostedErrorsScope::PostedErrorsScope(PostedErrors *errors)
    : previous_(currentErrors) {
  currentErrors = errors;
}

PostedErrorsScope::~PostedErrorsScope() { currentErrors = previous_; }

PostedErrors *postedErrors() { return currentErrors; }

const OfxMemorySuiteV1 *memorySuite() { return &memory; }
const OfxMessageSuiteV1 *messageSuiteV1() { return &messageV1; }
const OfxMessageSuiteV2 *messageSuiteV2() { return &messageV2; }

} // namespace ofxhost
