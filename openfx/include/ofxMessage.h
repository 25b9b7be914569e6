#ifndef OFX_OFXMESSAGE_H_INCLUDED
#define OFX_OFXMESSAGE_H_INCLUDED

/* ofxMessage.h: part of this project's OpenFX C API, written from the published
 * standard. Names, values and layouts are binary compatible with it; the
 * comments are ours. Usable from C and C++. */

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxMessageSuite "OfxMessageSuite"
#define kOfxMessageFatal "OfxMessageFatal"
#define kOfxMessageError "OfxMessageError"
#define kOfxMessageWarning "OfxMessageWarning"
#define kOfxMessageMessage "OfxMessageMessage"
#define kOfxMessageLog "OfxMessageLog"
#define kOfxMessageQuestion "OfxMessageQuestion"

/* handle is an effect instance or descriptor, or NULL; format is printf-like.
 */
typedef struct OfxMessageSuiteV1 {
  OfxStatus (*message)(void *handle, const char *messageType,
                       const char *messageId, const char *format, ...);
} OfxMessageSuiteV1;

typedef struct OfxMessageSuiteV2 {
  OfxStatus (*message)(void *handle, const char *messageType,
                       const char *messageId, const char *format, ...);
  OfxStatus (*setPersistentMessage)(void *handle, const char *messageType,
                                    const char *messageId, const char *format,
                                    ...);
  OfxStatus (*clearPersistentMessage)(void *handle);
} OfxMessageSuiteV2;

#ifdef __cplusplus
}
#endif

#endif /* OFX_OFXMESSAGE_H_INCLUDED */
