/* A filter written against the C API alone, sharing no code and no
 * assumption with the host or the support library. On every action it
 * checks each property the standard's fact tables (facts/) list for the
 * objects and arguments it is handed: present, of the listed type, with the
 * listed number of values. Where it sees an object before setting
 * anything, it compares what the host put there with the defaults the
 * standard states (facts/defaults.tsv). It also checks that the host says
 * it offers no GPU rendering (answering every GPU property) and no colour
 * management, whose properties it may then leave out; that the short and
 * long labels follow the label; that spatial defaults given normalised
 * arrive in canonical coordinates; that the clip preferences come before
 * a sequence begins; and that the progress and time line suites work.
 *
 * Every finding is posted once through the message suite as an error
 * "conformance: WHERE: PROPERTY PROBLEM" and, when QFX_CONFORMANCE_REPORT
 * names a file, appended to it as one line. So that a silent probe cannot
 * pass for a clean one, the first check of each kind of object is posted
 * as a log message "conformance checked: KIND" (and written as a line
 * "checked: KIND"). Its pixels are of no interest: the output is left as
 * the host hands it over. */
#include <float.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxMessage.h"
#include "ofxParam.h"
#include "ofxProgress.h"
#include "ofxProperty.h"
#include "ofxTimeLine.h"

typedef struct Fact {
  const char *set;  /* property set, or action */
  const char *args; /* "" for a property set, else inArgs or outArgs */
  const char *name;
  const char *type; /* e.g. "int", "enum", "int|double" */
  int dimension;    /* 0: any number of values */
} Fact;

typedef struct DefaultFact {
  const char *where; /* set names or parameter types joined by |, "Params",
                        or "ACTION inArgs" */
  const char *name;
  const char *type;  /* int, double, string, pointer or number */
  const char *value; /* see facts/defaults.tsv */
} DefaultFact;

#include "ConformanceFacts.inc"
#include "../host/plugins/TestEffectDescription.h"

#define COUNT(array) (sizeof(array) / sizeof((array)[0]))

static OfxHost *host;
static const OfxPropertySuiteV1 *props;
static const OfxImageEffectSuiteV1 *effects;
static const OfxParameterSuiteV1 *params;
static const OfxMessageSuiteV1 *messages;
static const OfxProgressSuiteV1 *progressV1;
static const OfxProgressSuiteV2 *progressV2;
static const OfxTimeLineSuiteV1 *timeLine;
static OfxImageEffectHandle describedHandle;
/* The standard settles the clip preferences after the instance is created
 * and before a sequence begins or a frame renders. The probe's users run
 * one instance at a time, so one flag is enough. */
static int clipPreferencesRan;

/* ------------------------------------------------------------ findings */

static pthread_mutex_t reportMutex = PTHREAD_MUTEX_INITIALIZER;
#define MAX_REPORTED 1024
static char *reported[MAX_REPORTED];
static size_t reportedCount;

/* True the first time text is seen. Findings repeat on every render; one
 * line each is enough. */
static int firstTime(const char *text) {
  size_t i;
  for (i = 0; i < reportedCount; ++i)
    if (strcmp(reported[i], text) == 0)
      return 0;
  if (reportedCount < MAX_REPORTED)
    reported[reportedCount++] = strdup(text);
  return 1;
}

/* A new load starts a new report: the host may load the binary again. */
static void forgetReported(void) {
  pthread_mutex_lock(&reportMutex);
  while (reportedCount > 0)
    free(reported[--reportedCount]);
  pthread_mutex_unlock(&reportMutex);
}

static void writeLine(const char *line) {
  const char *path = getenv("QFX_CONFORMANCE_REPORT");
  FILE *file;
  if (!path || !*path)
    return;
  file = fopen(path, "a");
  if (!file)
    return;
  fprintf(file, "%s\n", line);
  fclose(file);
}

static void post(const char *type, const char *prefix, const char *text) {
  char line[1024];
  snprintf(line, sizeof line, "%s%s", prefix, text);
  pthread_mutex_lock(&reportMutex);
  if (firstTime(line)) {
    writeLine(line);
    if (messages)
      messages->message(NULL, type, NULL, "conformance%s%s",
                        strcmp(prefix, "checked: ") == 0 ? " checked: " : ": ",
                        text);
  }
  pthread_mutex_unlock(&reportMutex);
}

static void finding(const char *where, const char *name, const char *format,
                    ...) {
  char problem[512];
  char text[900];
  va_list ap;
  va_start(ap, format);
  vsnprintf(problem, sizeof problem, format, ap);
  va_end(ap);
  snprintf(text, sizeof text, "%s: %s %s", where, name, problem);
  post(kOfxMessageError, "", text);
}

static void checked(const char *kind) {
  post(kOfxMessageLog, "checked: ", kind);
}

/* ------------------------------------------------------------ checks */

static void checkDefaultsOf(OfxPropertySetHandle set, const char *where,
                            const char *setName, const char *object);

enum { TypeInt = 1, TypeDouble = 2, TypeString = 4, TypePointer = 8 };

/* bool is an int of 0 or 1, enum a string from a fixed list. */
static int typeMask(const char *type) {
  int mask = 0;
  if (strstr(type, "int") || strstr(type, "bool"))
    mask |= TypeInt;
  if (strstr(type, "double"))
    mask |= TypeDouble;
  if (strstr(type, "string") || strstr(type, "enum"))
    mask |= TypeString;
  if (strstr(type, "pointer"))
    mask |= TypePointer;
  return mask;
}

static const char *typeWord(int type) {
  switch (type) {
  case TypeInt:
    return "int";
  case TypeDouble:
    return "double";
  case TypeString:
    return "string";
  case TypePointer:
    return "pointer";
  }
  return "of no known type";
}

/* The type a property answers to, read through its first value. */
static int actualType(OfxPropertySetHandle set, const char *name) {
  int i;
  double d;
  char *s;
  void *p;
  if (props->propGetInt(set, name, 0, &i) == kOfxStatOK)
    return TypeInt;
  if (props->propGetDouble(set, name, 0, &d) == kOfxStatOK)
    return TypeDouble;
  if (props->propGetString(set, name, 0, &s) == kOfxStatOK)
    return TypeString;
  if (props->propGetPointer(set, name, 0, &p) == kOfxStatOK)
    return TypePointer;
  return 0;
}

/* Colour management and the OpenGL textures: a host that offers neither
 * may leave their properties out (it must say so; see onLoad). Plug-ins
 * written for 1.5 ask for the other GPU properties, so those must be
 * there, saying that no GPU path is offered. */
static int isUnofferedFeature(const char *name) {
  static const char *const words[] = {"OpenGLTexture", "OpenGLProp", "OCIO",
                                      "Colourspace", "ColourManagement"};
  size_t i;
  for (i = 0; i < COUNT(words); ++i)
    if (strstr(name, words[i]))
      return 1;
  return 0;
}

/* Where the tables disagree with the standard's prose, the prose wins:
 * dimension labels come one per dimension of the parameter (-1 below), and
 * a string choice's enum property holds one key per option. */
static const Fact corrections[] = {
    {"", "", kOfxParamPropDimensionLabel, "string", -1},
    {"", "", kOfxParamPropChoiceEnum, "string", 0},
};

static Fact corrected(const Fact *fact, int paramDimension) {
  Fact result = *fact;
  size_t i;
  for (i = 0; i < COUNT(corrections); ++i) {
    if (strcmp(fact->name, corrections[i].name) != 0)
      continue;
    result.type = corrections[i].type;
    result.dimension = corrections[i].dimension < 0 ? paramDimension
                                                    : corrections[i].dimension;
  }
  return result;
}

static void checkValues(OfxPropertySetHandle set, const char *where,
                        const Fact *fact, int dimension) {
  int i;
  for (i = 0; i < dimension; ++i) {
    if (strcmp(fact->type, "bool") == 0) {
      int value = -1;
      props->propGetInt(set, fact->name, i, &value);
      if (value != 0 && value != 1)
        finding(where, fact->name, "is a bool holding %d", value);
    } else if (strcmp(fact->type, "enum") == 0) {
      char *value = NULL;
      props->propGetString(set, fact->name, i, &value);
      if (!value || !*value)
        finding(where, fact->name, "is an enum holding an empty string");
    }
  }
}

static void checkProperty(OfxPropertySetHandle set, const char *where,
                          const Fact *fact) {
  int dimension = 0;
  int type;
  const OfxStatus status = props->propGetDimension(set, fact->name, &dimension);
  if (status == kOfxStatErrUnknown) {
    finding(where, fact->name, "is missing");
    return;
  }
  if (status != kOfxStatOK) {
    finding(where, fact->name, "cannot be read: status %d", status);
    return;
  }
  if (fact->dimension > 0 && dimension != fact->dimension)
    finding(where, fact->name, "has %d values, not %d", dimension,
            fact->dimension);
  if (dimension == 0)
    return; /* no value to tell the type by */
  type = actualType(set, fact->name);
  if (!(type & typeMask(fact->type))) {
    finding(where, fact->name, "is %s, not %s", typeWord(type), fact->type);
    return;
  }
  checkValues(set, where, fact, dimension);
}

/* A parameter without a value (a push button) has none of the value
 * properties its table lists. */
static int isValueProperty(const char *name) {
  static const char *const names[] = {kOfxParamPropDefault,
                                      kOfxParamPropAnimates,
                                      kOfxParamPropIsAnimating,
                                      kOfxParamPropIsAutoKeying,
                                      kOfxParamPropPersistant,
                                      kOfxParamPropEvaluateOnChange,
                                      kOfxParamPropPluginMayWrite,
                                      kOfxParamPropCacheInvalidation,
                                      kOfxParamPropCanUndo,
                                      kOfxParamPropMin,
                                      kOfxParamPropMax,
                                      kOfxParamPropDisplayMin,
                                      kOfxParamPropDisplayMax};
  size_t i;
  for (i = 0; i < COUNT(names); ++i)
    if (strcmp(name, names[i]) == 0)
      return 1;
  return 0;
}

typedef struct SetCheck {
  const char *setName; /* the facts' name of the set */
  int paramDimension;
  int valueless;
} SetCheck;

static void checkSet(OfxPropertySetHandle set, const char *where,
                     SetCheck what) {
  size_t i;
  if (!set) {
    finding(where, "(property set)", "was not handed over");
    return;
  }
  for (i = 0; i < COUNT(propertyFacts); ++i) {
    const Fact *fact = &propertyFacts[i];
    Fact expected;
    if (strcmp(fact->set, what.setName) != 0 || isUnofferedFeature(fact->name))
      continue;
    if (what.valueless && isValueProperty(fact->name))
      continue;
    expected = corrected(fact, what.paramDimension);
    checkProperty(set, where, &expected);
  }
  checked(where);
}

static void checkSetNamed(OfxPropertySetHandle set, const char *where,
                          const char *setName) {
  SetCheck what = {setName, 0, 0};
  checkSet(set, where, what);
}

static void checkArgs(const char *action, const char *args,
                      OfxPropertySetHandle set) {
  char where[256];
  size_t i;
  int listed = 0;
  snprintf(where, sizeof where, "%s %s", action, args);
  for (i = 0; i < COUNT(actionFacts); ++i) {
    const Fact *fact = &actionFacts[i];
    if (strcmp(fact->set, action) != 0 || strcmp(fact->args, args) != 0 ||
        isUnofferedFeature(fact->name))
      continue;
    if (!set) {
      finding(where, "(property set)", "was not handed over");
      return;
    }
    checkProperty(set, where, fact);
    listed = 1;
  }
  if (listed)
    checked(where);
  checkDefaultsOf(set, where, where, "");
}

static void expectString(OfxPropertySetHandle set, const char *where,
                         const char *name, const char *expected) {
  char *value = NULL;
  if (props->propGetString(set, name, 0, &value) != kOfxStatOK || !value) {
    finding(where, name, "is missing: it must say \"%s\"", expected);
    return;
  }
  if (strcmp(value, expected) != 0)
    finding(where, name, "says \"%s\", not \"%s\"", value, expected);
}

static void expectInt(OfxPropertySetHandle set, const char *where,
                      const char *name, int expected) {
  int value = 0;
  if (props->propGetInt(set, name, 0, &value) != kOfxStatOK) {
    finding(where, name, "is missing: it must be %d", expected);
    return;
  }
  if (value != expected)
    finding(where, name, "is %d, not %d", value, expected);
}

/* ------------------------------------------------------------ defaults */

/* Whether the |-joined list holds word. */
static int listHolds(const char *list, const char *word) {
  const size_t length = strlen(word);
  const char *at = list;
  while ((at = strstr(at, word)) != NULL) {
    const int starts = at == list || at[-1] == '|';
    const int ends = at[length] == '\0' || at[length] == '|';
    if (starts && ends)
      return 1;
    at += length;
  }
  return 0;
}

static int setListsProperty(const char *setName, const char *name) {
  size_t i;
  for (i = 0; i < COUNT(propertyFacts); ++i)
    if (strcmp(propertyFacts[i].set, setName) == 0 &&
        strcmp(propertyFacts[i].name, name) == 0)
      return 1;
  return 0;
}

typedef struct ParamKind {
  const char *type;
  const char *name;
  const char *sets[2];
  int dimension;
  int valueless;
} ParamKind;

/* What a fresh object is, for picking the rows that apply to it. */
typedef struct Fresh {
  const char *setName;   /* props.tsv set, or "ACTION inArgs"; NULL: param */
  const char *object;    /* the name it was created with */
  const ParamKind *kind; /* for a parameter */
} Fresh;

static int rowApplies(const DefaultFact *row, const Fresh *fresh) {
  size_t s;
  if (!fresh->kind)
    return strcmp(row->where, fresh->setName) == 0;
  if (fresh->kind->valueless && isValueProperty(row->name))
    return 0;
  if (listHolds(row->where, fresh->kind->type))
    return 1;
  for (s = 0; s < COUNT(fresh->kind->sets) && fresh->kind->sets[s]; ++s) {
    const char *set = fresh->kind->sets[s];
    if (strcmp(row->where, "Params") == 0 ? setListsProperty(set, row->name)
                                          : listHolds(row->where, set))
      return 1;
  }
  return 0;
}

/* The index-th of the ,-joined values; "" past the end. */
static void nthValue(const char *values, int index, char *out, size_t size) {
  const char *start = values;
  const char *end;
  size_t length;
  while (index-- > 0 && start) {
    start = strchr(start, ',');
    if (start)
      ++start;
  }
  if (!start) {
    out[0] = '\0';
    return;
  }
  end = strchr(start, ',');
  length = end ? (size_t)(end - start) : strlen(start);
  if (length >= size)
    length = size - 1;
  memcpy(out, start, length);
  out[length] = '\0';
}

static int countValues(const char *values) {
  int count = 1;
  for (; *values; ++values)
    count += *values == ',';
  return count;
}

/* Tokens that stand for every value of the property, whatever its
 * dimension. */
static int isRepeatedToken(const char *value) {
  return strcmp(value, "ZERO") == 0 || strcmp(value, "LOWEST") == 0 ||
         strcmp(value, "HIGHEST") == 0;
}

/* The expected value at one index, as text in the property's own type. */
static void expectedText(const DefaultFact *row, const Fresh *fresh, int type,
                         int index, char *out, size_t size) {
  const int boolean =
      fresh->kind && strcmp(fresh->kind->type, kOfxParamTypeBoolean) == 0;
  char token[128];
  nthValue(row->value, isRepeatedToken(row->value) ? 0 : index, token,
           sizeof token);
  if (strcmp(token, "NAME") == 0)
    snprintf(out, size, "%s", fresh->object);
  else if (strcmp(token, "(empty)") == 0)
    out[0] = '\0';
  else if (strcmp(token, "ZERO") == 0)
    snprintf(out, size, "%s", type == TypeString ? "" : "0");
  else if (strcmp(token, "LOWEST") == 0)
    /* A boolean's type runs from 0 to 1. */
    snprintf(out, size, "%.17g",
             boolean           ? 0.0
             : type == TypeInt ? (double)INT_MIN
                               : -DBL_MAX);
  else if (strcmp(token, "HIGHEST") == 0)
    snprintf(out, size, "%.17g",
             boolean           ? 1.0
             : type == TypeInt ? (double)INT_MAX
                               : DBL_MAX);
  else if (strcmp(token, "NULL") == 0)
    snprintf(out, size, "%p", (void *)NULL);
  else
    snprintf(out, size, "%s", token);
}

/* The actual value at one index as text, numbers normalised through
 * double so that "1" and "1.0" compare equal. */
static void actualText(OfxPropertySetHandle set, const char *name, int type,
                       int index, char *out, size_t size) {
  int i = 0;
  double d = 0.0;
  char *s = NULL;
  void *p = NULL;
  out[0] = '\0';
  if (type == TypeInt && props->propGetInt(set, name, index, &i) == kOfxStatOK)
    snprintf(out, size, "%.17g", (double)i);
  else if (type == TypeDouble &&
           props->propGetDouble(set, name, index, &d) == kOfxStatOK)
    snprintf(out, size, "%.17g", d);
  else if (type == TypeString &&
           props->propGetString(set, name, index, &s) == kOfxStatOK && s)
    snprintf(out, size, "%s", s);
  else if (type == TypePointer &&
           props->propGetPointer(set, name, index, &p) == kOfxStatOK)
    snprintf(out, size, "%p", p);
}

static int typeMatches(const char *expected, int type) {
  if (strcmp(expected, "number") == 0)
    return type == TypeInt || type == TypeDouble;
  return typeMask(expected) & type;
}

static void normaliseNumber(int type, char *text, size_t size) {
  if (type == TypeInt || type == TypeDouble)
    snprintf(text, size, "%.17g", strtod(text, NULL));
}

static void checkDefault(OfxPropertySetHandle set, const char *where,
                         const DefaultFact *row, const Fresh *fresh) {
  int dimension = 0, expectedCount, type, i;
  const int none = strcmp(row->value, "-") == 0;
  if (props->propGetDimension(set, row->name, &dimension) != kOfxStatOK) {
    if (!none)
      finding(where, row->name, "is missing: its default is %s", row->value);
    return;
  }
  if (none) {
    if (dimension != 0)
      finding(where, row->name, "has %d values by default, not none",
              dimension);
    return;
  }
  expectedCount =
      isRepeatedToken(row->value) ? dimension : countValues(row->value);
  /* One label per dimension of the parameter: "x", "y" and "z" */
  if (strcmp(row->name, kOfxParamPropDimensionLabel) == 0 && fresh->kind &&
      fresh->kind->dimension < expectedCount)
    expectedCount = fresh->kind->dimension;
  if (dimension != expectedCount) {
    finding(where, row->name, "has %d values by default, not %d", dimension,
            expectedCount);
    return;
  }
  type = actualType(set, row->name);
  if (dimension > 0 && !typeMatches(row->type, type)) {
    finding(where, row->name, "is %s, not %s", typeWord(type), row->type);
    return;
  }
  for (i = 0; i < dimension; ++i) {
    char expected[256], actual[256];
    expectedText(row, fresh, type, i, expected, sizeof expected);
    normaliseNumber(type, expected, sizeof expected);
    actualText(set, row->name, type, i, actual, sizeof actual);
    if (strcmp(expected, actual) != 0) {
      finding(where, row->name, "is \"%s\" by default, not \"%s\"", actual,
              expected);
      return;
    }
  }
}

/* Compares a set the plug-in has not touched yet with the stated
 * defaults that apply to it. */
static void checkDefaults(OfxPropertySetHandle set, const char *where,
                          Fresh fresh) {
  size_t i;
  if (!set)
    return;
  char kind[300];
  for (i = 0; i < COUNT(defaultFacts); ++i)
    if (rowApplies(&defaultFacts[i], &fresh))
      checkDefault(set, where, &defaultFacts[i], &fresh);
  snprintf(kind, sizeof kind, "defaults of %s", where);
  checked(kind);
}

static void checkDefaultsOf(OfxPropertySetHandle set, const char *where,
                            const char *setName, const char *object) {
  Fresh fresh = {setName, object, NULL};
  checkDefaults(set, where, fresh);
}

/* ------------------------------------------------------------ objects */

static const ParamKind paramKinds[] = {
    {kOfxParamTypeInteger, "integer", {"ParamsByte", NULL}, 1, 0},
    {kOfxParamTypeBoolean, "boolean", {"ParamsByte", NULL}, 1, 0},
    {kOfxParamTypeRGB, "rgb", {"ParamsByte", NULL}, 3, 0},
    {kOfxParamTypeRGBA, "rgba", {"ParamsByte", NULL}, 4, 0},
    {kOfxParamTypeDouble,
     "double",
     {"ParamDouble1D", "ParamsNormalizedSpatial"},
     1,
     0},
    {kOfxParamTypeDouble2D,
     "double2d",
     {"ParamsDouble2D3D", "ParamsNormalizedSpatial"},
     2,
     0},
    {kOfxParamTypeDouble3D, "double3d", {"ParamsDouble2D3D", NULL}, 3, 0},
    {kOfxParamTypeInteger2D, "integer2d", {"ParamsInt2D3D", NULL}, 2, 0},
    {kOfxParamTypeInteger3D, "integer3d", {"ParamsInt2D3D", NULL}, 3, 0},
    {kOfxParamTypeChoice, "choice", {"ParamsChoice", NULL}, 1, 0},
    {kOfxParamTypeStrChoice, "strchoice", {"ParamsStrChoice", NULL}, 1, 0},
    {kOfxParamTypeString, "string", {"ParamsString", NULL}, 1, 0},
    {kOfxParamTypeCustom, "custom", {"ParamsCustom", NULL}, 1, 0},
    {kOfxParamTypePushButton, "pushbutton", {"ParamsByte", NULL}, 0, 1},
    {kOfxParamTypeGroup, "group", {"ParamsGroup", NULL}, 0, 0},
    {kOfxParamTypePage, "page", {"ParamsPage", NULL}, 0, 0},
    /* Only where the host offers the parametric parameter suite. */
    {"OfxParamTypeParametric", "parametric", {"ParamsParametric", NULL}, 0, 0},
};

static int offersParametric(void) {
  return host->fetchSuite(host->host, "OfxParametricParameterSuite", 1) != NULL;
}

static void checkParam(OfxPropertySetHandle set, const ParamKind *kind,
                       const char *role) {
  char where[256];
  size_t s;
  snprintf(where, sizeof where, "parameter %s %s", role, kind->name);
  for (s = 0; s < COUNT(kind->sets) && kind->sets[s]; ++s) {
    SetCheck what = {kind->sets[s], kind->dimension, kind->valueless};
    checkSet(set, where, what);
  }
}

/* What plug-ins written for 1.5 ask the host before taking a GPU path. */
static const char *const gpuSupport[] = {
    "OfxImageEffectPropOpenGLRenderSupported",
    "OfxImageEffectPropOpenCLSupported",
    "OfxImageEffectPropOpenCLRenderSupported",
    "OfxImageEffectPropCudaRenderSupported",
    "OfxImageEffectPropCudaStreamSupported",
    "OfxImageEffectPropMetalRenderSupported"};
static const char *const gpuEnabled[] = {
    "OfxImageEffectPropOpenGLEnabled", "OfxImageEffectPropOpenCLEnabled",
    "OfxImageEffectPropCudaEnabled", "OfxImageEffectPropMetalEnabled"};

/* The GPU properties are those of API 1.5: a host that answers them must
 * say it implements 1.5 at least. */
static void checkApiVersion(OfxPropertySetHandle hostProps) {
  int major = 0, minor = 0;
  props->propGetInt(hostProps, kOfxPropAPIVersion, 0, &major);
  props->propGetInt(hostProps, kOfxPropAPIVersion, 1, &minor);
  if (major != 1 || minor < 5)
    finding("host", kOfxPropAPIVersion, "says %d.%d, not 1.5 or later", major,
            minor);
}

/* No GPU path is enabled for a sequence or a render. */
static void checkGpuArgs(const char *action, OfxPropertySetHandle inArgs) {
  char where[256];
  size_t i;
  snprintf(where, sizeof where, "%s inArgs", action);
  for (i = 0; i < COUNT(gpuSupport); ++i)
    expectString(inArgs, where, gpuSupport[i], "false");
  for (i = 0; i < COUNT(gpuEnabled); ++i)
    expectInt(inArgs, where, gpuEnabled[i], 0);
}

static OfxStatus onLoad(void) {
  OfxPropertySetHandle hostProps = host->host;
  size_t i;
  forgetReported();
  props = host->fetchSuite(host->host, kOfxPropertySuite, 1);
  effects = host->fetchSuite(host->host, kOfxImageEffectSuite, 1);
  params = host->fetchSuite(host->host, kOfxParameterSuite, 1);
  messages = host->fetchSuite(host->host, kOfxMessageSuite, 1);
  if (!props || !effects || !params)
    return kOfxStatErrMissingHostFeature;
  progressV1 = host->fetchSuite(host->host, kOfxProgressSuite, 1);
  progressV2 = host->fetchSuite(host->host, kOfxProgressSuite, 2);
  timeLine = host->fetchSuite(host->host, kOfxTimeLineSuite, 1);
  if (!progressV1)
    finding("host", kOfxProgressSuite, "version 1 is not offered");
  if (!progressV2)
    finding("host", kOfxProgressSuite, "version 2 is not offered");
  if (!timeLine)
    finding("host", kOfxTimeLineSuite, "version 1 is not offered");
  checkSetNamed(hostProps, "host", "ImageEffectHost");
  checkDefaultsOf(hostProps, "host", "ImageEffectHost", "");
  for (i = 0; i < COUNT(gpuSupport); ++i)
    expectString(hostProps, "host", gpuSupport[i], "false");
  expectString(hostProps, "host", "OfxImageEffectPropColourManagementStyle",
               "OfxImageEffectColourManagementNone");
  checkApiVersion(hostProps);
  return kOfxStatOK;
}

#define PROBE_IDENTIFIER "net.qeffects.test.ConformanceProbe"

static void checkLabels(OfxPropertySetHandle set, const char *where,
                        const char *label, const char *shortLabel,
                        const char *longLabel) {
  expectString(set, where, kOfxPropLabel, label);
  expectString(set, where, kOfxPropShortLabel, shortLabel);
  expectString(set, where, kOfxPropLongLabel, longLabel);
}

static const char *const kFilterAndGeneral[] = {kOfxImageEffectContextFilter,
                                                kOfxImageEffectContextGeneral};

static OfxStatus describe(OfxImageEffectHandle effect) {
  OfxPropertySetHandle p = NULL;
  describedHandle = effect;
  effects->getPropertySet(effect, &p);
  /* Before the plug-in has set anything: the host's defaults. */
  checkSetNamed(p, "effect descriptor", "EffectDescriptor");
  checkDefaultsOf(p, "effect descriptor", "EffectDescriptor", PROBE_IDENTIFIER);
  describeTestEffect(props, p, "Conformance Probe", kFilterAndGeneral, 2);
  /* Only the label is set: the short and long labels follow it. */
  checkLabels(p, "effect descriptor", "Conformance Probe", "Conformance Probe",
              "Conformance Probe");
  props->propSetString(p, kOfxImageEffectPluginRenderThreadSafety, 0,
                       kOfxImageEffectRenderUnsafe);
  props->propSetInt(p, kOfxImageEffectPluginPropHostFrameThreading, 0, 0);
  return kOfxStatOK;
}

static void defineClip(OfxImageEffectHandle effect, const char *name) {
  OfxPropertySetHandle clip = NULL;
  effects->clipDefine(effect, name, &clip);
  checkSetNamed(clip, "clip descriptor", "ClipDescriptor");
  checkDefaultsOf(clip, "clip descriptor", "ClipDescriptor", name);
  props->propSetString(clip, kOfxImageEffectPropSupportedComponents, 0,
                       kOfxImageComponentRGBA);
  props->propSetString(clip, kOfxImageEffectPropSupportedComponents, 1,
                       kOfxImageComponentAlpha);
}

static void checkParamDefaults(OfxPropertySetHandle p, const ParamKind *kind) {
  char where[256];
  Fresh fresh = {NULL, kind->name, kind};
  snprintf(where, sizeof where, "parameter descriptor %s", kind->name);
  checkDefaults(p, where, fresh);
}

/* A short label set before the label stays; a long label set after it
 * replaces what the label gave it. */
static void setLabelsInTurn(OfxPropertySetHandle p, const ParamKind *kind) {
  char where[256];
  snprintf(where, sizeof where, "parameter descriptor %s", kind->name);
  if (strcmp(kind->type, kOfxParamTypeInteger) == 0) {
    props->propSetString(p, kOfxPropShortLabel, 0, "Int");
    props->propSetString(p, kOfxPropLabel, 0, "Integer");
    checkLabels(p, where, "Integer", "Int", "Integer");
  }
  if (strcmp(kind->type, kOfxParamTypeDouble) == 0) {
    props->propSetString(p, kOfxPropLabel, 0, "Double");
    props->propSetString(p, kOfxPropLongLabel, 0, "Double value");
    checkLabels(p, where, "Double", "Double", "Double value");
  }
}

static void defineParams(OfxImageEffectHandle effect) {
  OfxParamSetHandle set = NULL;
  OfxPropertySetHandle setProps = NULL;
  size_t i;
  effects->getParamSet(effect, &set);
  params->paramSetGetPropertySet(set, &setProps);
  checkSetNamed(setProps, "parameter set descriptor", "ParameterSet");
  checkDefaultsOf(setProps, "parameter set descriptor", "ParameterSet", "");
  for (i = 0; i < COUNT(paramKinds); ++i) {
    const ParamKind *kind = &paramKinds[i];
    OfxPropertySetHandle p = NULL;
    OfxStatus status;
    if (strcmp(kind->type, "OfxParamTypeParametric") == 0 &&
        !offersParametric())
      continue;
    status = params->paramDefine(set, kind->type, kind->name, &p);
    if (status != kOfxStatOK) {
      finding("parameter set descriptor", kind->type,
              "cannot be defined: status %d", status);
      continue;
    }
    checkParam(p, kind, "descriptor");
    checkParamDefaults(p, kind);
    setLabelsInTurn(p, kind);
    if (strcmp(kind->type, kOfxParamTypeChoice) == 0 ||
        strcmp(kind->type, kOfxParamTypeStrChoice) == 0)
      props->propSetString(p, kOfxParamPropChoiceOption, 0, "one");
    if (strcmp(kind->type, kOfxParamTypeStrChoice) == 0) {
      props->propSetString(p, kOfxParamPropChoiceEnum, 0, "one");
      props->propSetString(p, kOfxParamPropDefault, 0, "one");
    }
  }
}

/* Spatial defaults: given normalised (kOfxParamPropDefaultCoordinateSystem)
 * the host hands them over canonical, default * project size, plus the
 * project offset for a position; the older normalised types and canonical
 * defaults arrive as the plug-in gave them. */
/* The older normalised types, which our headers leave out. */
#define kOldNormalisedXY "OfxParamDoubleTypeNormalisedXY"
#define kOldNormalisedXYAbsolute "OfxParamDoubleTypeNormalisedXYAbsolute"

typedef struct SpatialCase {
  const char *name;
  const char *type;
  const char *doubleType;
  const char *coordinates;
  double value[2];
  const char *axes; /* project axis of each dimension; "" stays as given */
  int position;
} SpatialCase;

static const SpatialCase spatialCases[] = {
    {"cornerNormalised",
     kOfxParamTypeDouble2D,
     kOfxParamDoubleTypeXYAbsolute,
     kOfxParamCoordinatesNormalised,
     {0.4, 0.6},
     "xy",
     1},
    {"sizeNormalised",
     kOfxParamTypeDouble2D,
     kOfxParamDoubleTypeXY,
     kOfxParamCoordinatesNormalised,
     {0.25, 0.5},
     "xy",
     0},
    {"widthNormalised",
     kOfxParamTypeDouble,
     kOfxParamDoubleTypeX,
     kOfxParamCoordinatesNormalised,
     {0.25, 0},
     "x",
     0},
    {"topNormalised",
     kOfxParamTypeDouble,
     kOfxParamDoubleTypeYAbsolute,
     kOfxParamCoordinatesNormalised,
     {0.75, 0},
     "y",
     1},
    {"cornerCanonical",
     kOfxParamTypeDouble2D,
     kOfxParamDoubleTypeXYAbsolute,
     kOfxParamCoordinatesCanonical,
     {12, 34},
     "",
     0},
    {"cornerOldStyle",
     kOfxParamTypeDouble2D,
     kOldNormalisedXYAbsolute,
     kOfxParamCoordinatesCanonical,
     {0.4, 0.6},
     "",
     0},
    {"sizeOldStyle",
     kOfxParamTypeDouble2D,
     kOldNormalisedXY,
     kOfxParamCoordinatesNormalised,
     {0.25, 0.5},
     "",
     0},
    {"angleNormalised",
     kOfxParamTypeDouble,
     kOfxParamDoubleTypeAngle,
     kOfxParamCoordinatesNormalised,
     {0.5, 0},
     "",
     0},
};

static int isDouble2D(const SpatialCase *c) {
  return strcmp(c->type, kOfxParamTypeDouble2D) == 0;
}

static void defineSpatialParams(OfxParamSetHandle set) {
  size_t i;
  for (i = 0; i < COUNT(spatialCases); ++i) {
    const SpatialCase *c = &spatialCases[i];
    OfxPropertySetHandle p = NULL;
    if (params->paramDefine(set, c->type, c->name, &p) != kOfxStatOK) {
      finding("parameter set descriptor", c->name, "cannot be defined");
      continue;
    }
    props->propSetString(p, kOfxParamPropDoubleType, 0, c->doubleType);
    props->propSetString(p, kOfxParamPropDefaultCoordinateSystem, 0,
                         c->coordinates);
    props->propSetDoubleN(p, kOfxParamPropDefault, isDouble2D(c) ? 2 : 1,
                          c->value);
  }
}

static double expectedSpatial(const SpatialCase *c, int i, const double size[2],
                              const double offset[2]) {
  int axis;
  if (!c->axes[0])
    return c->value[i];
  axis = c->axes[c->axes[1] ? i : 0] == 'x' ? 0 : 1;
  return c->value[i] * size[axis] + (c->position ? offset[axis] : 0.0);
}

static void checkSpatialValues(OfxImageEffectHandle effect,
                               OfxParamSetHandle set) {
  OfxPropertySetHandle p = NULL;
  double size[2] = {0, 0}, offset[2] = {0, 0};
  size_t i;
  effects->getPropertySet(effect, &p);
  props->propGetDoubleN(p, kOfxImageEffectPropProjectSize, 2, size);
  props->propGetDoubleN(p, kOfxImageEffectPropProjectOffset, 2, offset);
  for (i = 0; i < COUNT(spatialCases); ++i) {
    const SpatialCase *c = &spatialCases[i];
    OfxParamHandle param = NULL;
    double got[2] = {0, 0}, want[2];
    const int dimension = isDouble2D(c) ? 2 : 1;
    int d;
    if (params->paramGetHandle(set, c->name, &param, NULL) != kOfxStatOK)
      continue; /* reported when describing */
    if (dimension == 2)
      params->paramGetValue(param, &got[0], &got[1]);
    else
      params->paramGetValue(param, &got[0]);
    for (d = 0; d < dimension; ++d) {
      want[d] = expectedSpatial(c, d, size, offset);
      if (got[d] - want[d] > 1e-9 || want[d] - got[d] > 1e-9) {
        finding("parameter instance", c->name,
                "starts at %g in dimension %d, not %g", got[d], d, want[d]);
        break;
      }
    }
  }
  checked("spatial defaults");
}

static OfxStatus describeInContext(OfxImageEffectHandle effect) {
  OfxPropertySetHandle p = NULL;
  effects->getPropertySet(effect, &p);
  checkSetNamed(p, "context descriptor", "EffectDescriptor");
  defineClip(effect, kOfxImageEffectSimpleSourceClipName);
  defineClip(effect, kOfxImageEffectOutputClipName);
  defineParams(effect);
  {
    OfxParamSetHandle set = NULL;
    effects->getParamSet(effect, &set);
    defineSpatialParams(set);
  }
  return kOfxStatOK;
}

static void checkClipInstances(OfxImageEffectHandle effect, const char *when,
                               int fresh) {
  static const char *const clips[] = {kOfxImageEffectSimpleSourceClipName,
                                      kOfxImageEffectOutputClipName};
  char where[128];
  size_t i;
  snprintf(where, sizeof where, "clip instance at %s", when);
  for (i = 0; i < COUNT(clips); ++i) {
    OfxImageClipHandle clip = NULL;
    OfxPropertySetHandle p = NULL;
    if (effects->clipGetHandle(effect, clips[i], &clip, &p) != kOfxStatOK) {
      finding(where, clips[i], "has no handle");
      continue;
    }
    checkSetNamed(p, where, "ClipInstance");
    if (fresh)
      checkDefaultsOf(p, where, "ClipInstance", clips[i]);
  }
}

static OfxStatus createInstance(OfxImageEffectHandle effect) {
  OfxPropertySetHandle p = NULL;
  OfxParamSetHandle set = NULL;
  OfxPropertySetHandle setProps = NULL;
  void *plugin = NULL;
  size_t i;
  effects->getPropertySet(effect, &p);
  clipPreferencesRan = 0;
  checkSetNamed(p, "effect instance", "EffectInstance");
  checkDefaultsOf(p, "effect instance", "EffectInstance", PROBE_IDENTIFIER);
  if (props->propGetPointer(p, kOfxImageEffectPropPluginHandle, 0, &plugin) ==
          kOfxStatOK &&
      plugin != (void *)describedHandle)
    finding("effect instance", kOfxImageEffectPropPluginHandle,
            "is not the handle the describe action was given");
  checkClipInstances(effect, "create", 1);
  effects->getParamSet(effect, &set);
  params->paramSetGetPropertySet(set, &setProps);
  checkSetNamed(setProps, "parameter set instance", "ParameterSet");
  for (i = 0; i < COUNT(paramKinds); ++i) {
    OfxParamHandle param = NULL;
    OfxPropertySetHandle paramProps = NULL;
    if (params->paramGetHandle(set, paramKinds[i].name, &param, &paramProps) !=
        kOfxStatOK)
      continue; /* not defined: reported when describing */
    checkParam(paramProps, &paramKinds[i], "instance");
  }
  checkSpatialValues(effect, set);
  return kOfxStatOK;
}

static void checkImage(OfxImageEffectHandle effect, const char *clipName,
                       double time) {
  OfxImageClipHandle clip = NULL;
  OfxPropertySetHandle image = NULL;
  OfxStatus status;
  if (effects->clipGetHandle(effect, clipName, &clip, NULL) != kOfxStatOK)
    return; /* reported with the clip instances */
  status = effects->clipGetImage(clip, time, NULL, &image);
  if (status != kOfxStatOK) {
    finding("image", clipName, "cannot be fetched: status %d", status);
    return;
  }
  checkSetNamed(image, "image", "Image");
  effects->clipReleaseImage(image);
}

static void checkStatus(const char *suite, const char *call, OfxStatus status) {
  if (status != kOfxStatOK)
    finding(suite, call, "answered status %d", status);
}

static void useProgressAndTimeLine(OfxImageEffectHandle effect,
                                   double renderTime) {
  double time = -1.0, first = 0.0, last = -1.0;
  if (progressV1) {
    checkStatus("progress suite v1", "progressStart",
                progressV1->progressStart(effect, "Checking"));
    checkStatus("progress suite v1", "progressUpdate",
                progressV1->progressUpdate(effect, 0.5));
    checkStatus("progress suite v1", "progressEnd",
                progressV1->progressEnd(effect));
  }
  if (progressV2) {
    checkStatus("progress suite v2", "progressStart",
                progressV2->progressStart(effect, "Checking", "probe.check"));
    checkStatus("progress suite v2", "progressUpdate",
                progressV2->progressUpdate(effect, 1.0));
    checkStatus("progress suite v2", "progressEnd",
                progressV2->progressEnd(effect));
  }
  if (!timeLine)
    return;
  checkStatus("time line suite", "getTime", timeLine->getTime(effect, &time));
  if (time != renderTime)
    finding("time line suite", "getTime", "says %g while rendering %g", time,
            renderTime);
  checkStatus("time line suite", "getTimeBounds",
              timeLine->getTimeBounds(effect, &first, &last));
  if (first > last)
    finding("time line suite", "getTimeBounds", "gives %g to %g", first, last);
}

static OfxStatus render(OfxImageEffectHandle effect,
                        OfxPropertySetHandle inArgs) {
  double time = 0.0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  checkClipInstances(effect, "render", 0);
  checkImage(effect, kOfxImageEffectSimpleSourceClipName, time);
  checkImage(effect, kOfxImageEffectOutputClipName, time);
  useProgressAndTimeLine(effect, time);
  return kOfxStatOK;
}

static void checkActionOrder(const char *action) {
  if (strcmp(action, kOfxImageEffectActionGetClipPreferences) == 0) {
    clipPreferencesRan = 1;
    checked("action order");
    return;
  }
  if ((strcmp(action, kOfxImageEffectActionBeginSequenceRender) == 0 ||
       strcmp(action, kOfxImageEffectActionRender) == 0) &&
      !clipPreferencesRan)
    finding("action order", action,
            "came before " kOfxImageEffectActionGetClipPreferences);
}

static OfxStatus mainEntry(const char *action, const void *handle,
                           OfxPropertySetHandle inArgs,
                           OfxPropertySetHandle outArgs) {
  OfxImageEffectHandle effect = (OfxImageEffectHandle)handle;
  if (strcmp(action, kOfxActionLoad) == 0)
    return onLoad();
  if (!props)
    return kOfxStatFailed;
  checkArgs(action, "inArgs", inArgs);
  checkArgs(action, "outArgs", outArgs);
  checkActionOrder(action);
  if (strcmp(action, kOfxImageEffectActionBeginSequenceRender) == 0 ||
      strcmp(action, kOfxImageEffectActionRender) == 0 ||
      strcmp(action, kOfxImageEffectActionEndSequenceRender) == 0)
    checkGpuArgs(action, inArgs);
  if (strcmp(action, kOfxActionDescribe) == 0)
    return describe(effect);
  if (strcmp(action, kOfxImageEffectActionDescribeInContext) == 0)
    return describeInContext(effect);
  if (strcmp(action, kOfxActionCreateInstance) == 0)
    return createInstance(effect);
  if (strcmp(action, kOfxImageEffectActionRender) == 0)
    return render(effect, inArgs);
  if (strcmp(action, kOfxActionUnload) == 0) {
    forgetReported();
    return kOfxStatOK;
  }
  if (strcmp(action, kOfxActionDestroyInstance) == 0)
    return kOfxStatOK;
  return kOfxStatReplyDefault;
}

static void setHost(OfxHost *h) { host = h; }

static OfxPlugin plugin = {
    kOfxImageEffectPluginApi, 1, PROBE_IDENTIFIER, 1, 0, setHost, mainEntry};

OfxExport int OfxGetNumberOfPlugins(void) { return 1; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) { return nth == 0 ? &plugin : NULL; }
