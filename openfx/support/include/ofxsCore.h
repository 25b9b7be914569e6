#ifndef OFXS_CORE_H
#define OFXS_CORE_H

// Basic vocabulary of the C++ support library: the enums that stand for the
// OpenFX string constants, the exceptions that carry failures up to the main
// entry, and a thin typed wrapper around a host property set.

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"
#include "ofxParam.h"
#include "ofxPixels.h"
#include "ofxProperty.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace OFX {

enum ContextEnum {
  eContextNone,
  eContextGenerator,
  eContextFilter,
  eContextTransition,
  eContextPaint,
  eContextGeneral,
  eContextRetimer
};

enum BitDepthEnum {
  eBitDepthNone,
  eBitDepthUByte,
  eBitDepthUShort,
  eBitDepthHalf,
  eBitDepthFloat,
  eBitDepthCustom
};

enum PixelComponentEnum {
  ePixelComponentNone,
  ePixelComponentRGBA,
  ePixelComponentRGB,
  ePixelComponentAlpha,
  ePixelComponentCustom
};

enum PreMultiplicationEnum {
  eImageOpaque,
  eImagePreMultiplied,
  eImageUnPreMultiplied
};

enum FieldEnum {
  eFieldNone,
  eFieldBoth,
  eFieldLower,
  eFieldUpper,
  eFieldSingle,
  eFieldDoubled
};

enum RenderSafetyEnum { eRenderUnsafe, eRenderInstanceSafe, eRenderFullySafe };

namespace Exception {

// A host suite call answered with a failure status; the main entry hands
// that status back to the host as the result of the action.
class Suite : public std::exception {
public:
  explicit Suite(OfxStatus status, const std::string &context = std::string());
  OfxStatus status() const noexcept { return status_; }
  // What the failing call was about, e.g. "image of clip Source"; empty
  // when only the status is known, which then says all there is.
  const std::string &context() const noexcept { return context_; }
  const char *what() const noexcept override { return message_.c_str(); }

protected:
  // For subclasses whose text is not a suite call's.
  Suite(OfxStatus status, std::string context, std::string message)
      : status_(status), context_(std::move(context)),
        message_(std::move(message)) {}

private:
  OfxStatus status_;
  std::string context_;
  std::string message_;
};

// The effect itself cannot do what an action asks, e.g. an image in a
// format it does not render. The main entry answers the status and tells
// the host the reason. A Suite, so that code which already turns suite
// failures into a status treats it alike.
class Failure : public Suite {
public:
  Failure(OfxStatus status, const std::string &reason)
      : Suite(status, reason, reason) {}
};

// The host lacks a suite or capability the plug-in cannot do without.
class HostInadequate : public std::exception {
public:
  explicit HostInadequate(const std::string &what = "host inadequate");
  const char *what() const noexcept override { return message_.c_str(); }

private:
  std::string message_;
};

// The host does not know a property the library had to read or write.
class PropertyUnknownToHost : public std::exception {
public:
  explicit PropertyUnknownToHost(const std::string &property);
  const char *what() const noexcept override { return message_.c_str(); }

private:
  std::string message_;
};

} // namespace Exception

// Throws Exception::Suite carrying `status` unless it is a success status
// (kOfxStatOK or one of the kOfxStatReply* answers).
void throwSuiteStatusException(OfxStatus status);

// Throws Exception::Failure: the action fails with `status`, and the host
// learns `reason` through its message suite.
[[noreturn]] void throwFailure(OfxStatus status, const std::string &reason);

// The text of a status code, e.g. "kOfxStatErrFormat", for messages.
const char *statusName(OfxStatus status);

// Typed access to one host property set. Failing reads and writes throw:
// PropertyUnknownToHost when the host does not know the name, Suite with
// the host's status otherwise. The `...Or` readers never throw and return
// the given fallback instead, for properties a host may legitimately lack.
class PropertySet {
public:
  explicit PropertySet(OfxPropertySetHandle handle = nullptr)
      : handle_(handle) {}

  OfxPropertySetHandle handle() const { return handle_; }
  bool valid() const { return handle_ != nullptr; }

  void setString(const char *name, const std::string &value,
                 int index = 0) const;
  void setInt(const char *name, int value, int index = 0) const;
  void setDouble(const char *name, double value, int index = 0) const;
  void setPointer(const char *name, void *value, int index = 0) const;
  void setDoubles(const char *name, const std::vector<double> &values) const;
  // Writes value at index getDimension(name), growing the property by one.
  void appendString(const char *name, const std::string &value) const;

  std::string getString(const char *name, int index = 0) const;
  int getInt(const char *name, int index = 0) const;
  double getDouble(const char *name, int index = 0) const;
  void *getPointer(const char *name, int index = 0) const;
  int getDimension(const char *name) const;

  std::string getStringOr(const char *name, const std::string &fallback,
                          int index = 0) const noexcept;
  int getIntOr(const char *name, int fallback, int index = 0) const noexcept;
  double getDoubleOr(const char *name, double fallback,
                     int index = 0) const noexcept;
  int getDimensionOr(const char *name, int fallback) const noexcept;

private:
  OfxPropertySetHandle handle_;
};

// Conversions between the enums above and the OpenFX strings. Unknown
// strings map to the "none" value, which callers treat as unsupported.
const char *mapBitDepthToString(BitDepthEnum depth);
BitDepthEnum mapStringToBitDepth(const std::string &text);
const char *mapPixelComponentsToString(PixelComponentEnum components);
PixelComponentEnum mapStringToPixelComponents(const std::string &text);
const char *mapContextToString(ContextEnum context);
ContextEnum mapStringToContext(const std::string &text);
const char *mapPreMultiplicationToString(PreMultiplicationEnum premult);
PreMultiplicationEnum mapStringToPreMultiplication(const std::string &text);
const char *mapFieldToString(FieldEnum field);
FieldEnum mapStringToField(const std::string &text);

// Number of components of a pixel, 0 for none or custom components.
int componentCount(PixelComponentEnum components);
// Bytes of one component, 0 for none or custom depths.
int bytesPerComponent(BitDepthEnum depth);

} // namespace OFX

#endif // OFXS_CORE_H
