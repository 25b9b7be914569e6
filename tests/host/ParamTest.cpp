// Parameters of an instance: defaults per type, clamping, keyframes and
// the parameter suite's varargs convention.
#include "HostTestSupport.h"

#include <cmath>
#include <sstream>

namespace {

using hosttest::ProbeTest;
using ofxhost::Param;

std::string show(const std::vector<double> &v) {
  std::ostringstream out;
  out << "(";
  for (size_t i = 0; i < v.size(); ++i)
    out << (i ? ", " : "") << v[i];
  out << ")";
  return out.str();
}

class ParamTest : public ProbeTest {
protected:
  Param &param(const std::string &name) { return instance_->param(name); }

  // Reads a numeric value the way a plug-in does: one pointer per
  // dimension, int* for integral types and double* for the rest.
  std::vector<double> suiteValueAt(const std::string &name, double time,
                                   OfxStatus *status = nullptr) {
    Param &p = param(name);
    const bool integral =
        p.type() == kOfxParamTypeInteger || p.type() == kOfxParamTypeBoolean ||
        p.type() == kOfxParamTypeChoice || p.type() == kOfxParamTypeInteger2D ||
        p.type() == kOfxParamTypeInteger3D;
    int i[4] = {-7, -7, -7, -7};
    double d[4] = {-7, -7, -7, -7};
    OfxStatus s = integral
                      ? params_->paramGetValueAtTime(p.handle(), time, &i[0],
                                                     &i[1], &i[2], &i[3])
                      : params_->paramGetValueAtTime(p.handle(), time, &d[0],
                                                     &d[1], &d[2], &d[3]);
    if (status)
      *status = s;
    std::vector<double> out;
    for (int k = 0; k < p.dimension(); ++k)
      out.push_back(integral ? i[k] : d[k]);
    return out;
  }

  OfxStatus suiteSet(const std::string &name, const std::vector<double> &v) {
    Param &p = param(name);
    const bool integral =
        p.type() == kOfxParamTypeInteger || p.type() == kOfxParamTypeBoolean ||
        p.type() == kOfxParamTypeChoice || p.type() == kOfxParamTypeInteger2D ||
        p.type() == kOfxParamTypeInteger3D;
    std::vector<double> a(v);
    a.resize(4, 0.0);
    if (integral)
      return params_->paramSetValue(p.handle(), int(a[0]), int(a[1]), int(a[2]),
                                    int(a[3]));
    return params_->paramSetValue(p.handle(), a[0], a[1], a[2], a[3]);
  }
};

struct TypedValue {
  const char *name;
  const char *type;
  std::vector<double> value;
};

TEST_F(ParamTest, InstanceParamsStartAtTheDescribedDefaults) {
  const TypedValue defaults[] = {
      {"count", kOfxParamTypeInteger, {3}},
      {"amount", kOfxParamTypeDouble, {0.5}},
      {"flag", kOfxParamTypeBoolean, {1}},
      {"mode", kOfxParamTypeChoice, {1}},
      {"colour", kOfxParamTypeRGBA, {1.0, 0.5, 0.25, 1.0}},
      {"tint", kOfxParamTypeRGB, {0.1, 0.2, 0.3}},
      {"offset", kOfxParamTypeDouble2D, {0.25, 0.75}},
      {"size", kOfxParamTypeInteger2D, {640, 480}},
      {"point", kOfxParamTypeDouble3D, {1, 2, 3}},
      {"cell", kOfxParamTypeInteger3D, {4, 5, 6}},
  };
  for (const TypedValue &expected : defaults) {
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(param(expected.name).type(), expected.type);
    OfxStatus status = kOfxStatFailed;
    EXPECT_EQ(suiteValueAt(expected.name, 0.0, &status), expected.value)
        << "suite read " << show(suiteValueAt(expected.name, 0.0));
    EXPECT_EQ(status, kOfxStatOK);
    EXPECT_EQ(param(expected.name).valueAt(0.0), expected.value);
  }
  EXPECT_EQ(param("text").stringValue(), "hello");
  EXPECT_EQ(param("flavour").stringValue(), "sour");
  EXPECT_EQ(param("Controls").dimension(), 0);
  EXPECT_EQ(param("Controls").props().getStrings(kOfxParamPropPageChild),
            (std::vector<std::string>{"count", "amount"}));
  EXPECT_EQ(param("count").props().getString(kOfxPropType),
            kOfxTypeParameterInstance);
}

struct ClampCase {
  const char *name;
  std::vector<double> set;
  std::vector<double> expected;
};

class ParamClampTest : public ParamTest,
                       public ::testing::WithParamInterface<ClampCase> {};

TEST_P(ParamClampTest, SuiteAndCxxSettersClampEveryComponent) {
  const ClampCase &c = GetParam();
  ASSERT_EQ(suiteSet(c.name, c.set), kOfxStatOK);
  EXPECT_EQ(suiteValueAt(c.name, 0.0), c.expected)
      << c.name << " set through the suite to " << show(c.set);
  param(c.name).setValue({});
  param(c.name).setValue(c.set);
  EXPECT_EQ(param(c.name).valueAt(0.0), c.expected)
      << c.name << " set from C++ to " << show(c.set);
  // A key outside the range is clamped the same way.
  param(c.name).setKey(4.0, c.set);
  EXPECT_EQ(param(c.name).valueAt(4.0), c.expected)
      << c.name << " keyed at " << show(c.set);
}

INSTANTIATE_TEST_SUITE_P(
    EveryNumericType, ParamClampTest,
    ::testing::Values(ClampCase{"count", {20}, {10}},
                      ClampCase{"count", {-5}, {0}},
                      ClampCase{"amount", {3.5}, {1.0}},
                      ClampCase{"amount", {-2}, {-1}},
                      ClampCase{"flag", {7}, {1}}, ClampCase{"flag", {0}, {0}},
                      ClampCase{"mode", {9}, {2}}, ClampCase{"mode", {-1}, {0}},
                      ClampCase{"colour", {2, -1, 0.5, 1}, {1, 0, 0.5, 1}},
                      ClampCase{"offset", {5, -9}, {1, -5}},
                      ClampCase{"size", {0, 9999}, {1, 2160}},
                      ClampCase{"cell", {-1, 10, 5}, {0, 9, 5}},
                      // No range declared: anything goes.
                      ClampCase{"point", {-1e6, 0, 1e6}, {-1e6, 0, 1e6}}),
    [](const ::testing::TestParamInfo<ClampCase> &info) {
      return std::string(info.param.name) + std::to_string(info.index);
    });

TEST_F(ParamTest, KeysInterpolateLinearlyAndHoldOutside) {
  Param &amount = param("amount");
  amount.setKey(0.0, {-1.0});
  amount.setKey(10.0, {1.0});
  EXPECT_DOUBLE_EQ(suiteValueAt("amount", 5.0)[0], 0.0);
  EXPECT_DOUBLE_EQ(suiteValueAt("amount", 2.5)[0], -0.5);
  EXPECT_DOUBLE_EQ(suiteValueAt("amount", -3.0)[0], -1.0);
  EXPECT_DOUBLE_EQ(suiteValueAt("amount", 20.0)[0], 1.0);

  Param &colour = param("colour");
  colour.setKey(0.0, {0, 0, 0, 0});
  colour.setKey(4.0, {1, 0.5, 0, 1});
  EXPECT_EQ(suiteValueAt("colour", 1.0),
            (std::vector<double>{0.25, 0.125, 0, 0.25}));

  // Integers interpolate and round; a menu holds until its next key.
  Param &count = param("count");
  count.setKey(0.0, {0});
  count.setKey(10.0, {10});
  EXPECT_EQ(suiteValueAt("count", 2.4)[0], 2);
  EXPECT_EQ(suiteValueAt("count", 7.6)[0], 8);
  Param &mode = param("mode");
  mode.setKey(0.0, {0});
  mode.setKey(10.0, {2});
  EXPECT_EQ(suiteValueAt("mode", 9.0)[0], 0);
  EXPECT_EQ(suiteValueAt("mode", 10.0)[0], 2);
}

TEST_F(ParamTest, KeyFunctionsFindCountAndDeleteKeys) {
  OfxParamHandle h = param("amount").handle();
  for (double t : {10.0, 0.0, 20.0})
    ASSERT_EQ(params_->paramSetValueAtTime(h, t, t / 20.0), kOfxStatOK);
  unsigned count = 0;
  ASSERT_EQ(params_->paramGetNumKeys(h, &count), kOfxStatOK);
  EXPECT_EQ(count, 3u);
  OfxTime time = -1;
  EXPECT_EQ(params_->paramGetKeyTime(h, 1, &time), kOfxStatOK);
  EXPECT_EQ(time, 10.0);
  EXPECT_EQ(params_->paramGetKeyTime(h, 3, &time), kOfxStatErrBadIndex);

  int index = -1;
  EXPECT_EQ(params_->paramGetKeyIndex(h, 10.0, 0, &index), kOfxStatOK);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(params_->paramGetKeyIndex(h, 5.0, 0, &index), kOfxStatFailed);
  EXPECT_EQ(params_->paramGetKeyIndex(h, 10.0, -1, &index), kOfxStatOK);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(params_->paramGetKeyIndex(h, 10.0, 1, &index), kOfxStatOK);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(params_->paramGetKeyIndex(h, 20.0, 1, &index), kOfxStatFailed);
  EXPECT_EQ(params_->paramGetKeyIndex(h, 0.0, -1, &index), kOfxStatFailed);

  EXPECT_EQ(params_->paramDeleteKey(h, 5.0), kOfxStatErrBadIndex);
  EXPECT_EQ(params_->paramDeleteKey(h, 10.0), kOfxStatOK);
  EXPECT_DOUBLE_EQ(suiteValueAt("amount", 10.0)[0], 0.5);
  EXPECT_EQ(param("amount").props().getInt(kOfxParamPropIsAnimating), 1);
  EXPECT_EQ(params_->paramDeleteAllKeys(h), kOfxStatOK);
  EXPECT_EQ(param("amount").numKeys(), 0);
  EXPECT_EQ(param("amount").props().getInt(kOfxParamPropIsAnimating), 0);
}

TEST_F(ParamTest, SetValueOnAnAnimatedParamKeysTheCurrentTime) {
  param("amount").setKey(0.0, {0.0});
  // The region-of-definition action makes its time the current one.
  OfxRectD rod;
  instance_->setSource(std::make_shared<ofxhost::Image>(
      OfxRectI{0, 0, 2, 2}, ofxhost::BitDepth::Byte,
      ofxhost::Components::RGBA));
  instance_->regionOfDefinition(8.0, {1, 1}, rod);
  ASSERT_EQ(params_->paramSetValue(param("amount").handle(), 0.8), kOfxStatOK);
  EXPECT_EQ(param("amount").numKeys(), 2);
  EXPECT_DOUBLE_EQ(param("amount").valueAt(4.0)[0], 0.4);
}

TEST_F(ParamTest, DerivativeAndIntegralFollowTheKeyedLine) {
  OfxParamHandle h = param("amount").handle();
  param("amount").setKey(0.0, {0.0});
  param("amount").setKey(10.0, {1.0});
  double value = 0;
  ASSERT_EQ(params_->paramGetDerivative(h, 5.0, &value), kOfxStatOK);
  EXPECT_DOUBLE_EQ(value, 0.1);
  ASSERT_EQ(params_->paramGetDerivative(h, 15.0, &value), kOfxStatOK);
  EXPECT_DOUBLE_EQ(value, 0.0);
  ASSERT_EQ(params_->paramGetIntegral(h, 0.0, 10.0, &value), kOfxStatOK);
  EXPECT_DOUBLE_EQ(value, 5.0);
  ASSERT_EQ(params_->paramGetIntegral(h, -10.0, 20.0, &value), kOfxStatOK);
  EXPECT_DOUBLE_EQ(value, 15.0);
  ASSERT_EQ(params_->paramGetIntegral(h, 10.0, 0.0, &value), kOfxStatOK);
  EXPECT_DOUBLE_EQ(value, -5.0);
  int whole = 0;
  EXPECT_EQ(params_->paramGetDerivative(param("count").handle(), 0.0, &whole),
            kOfxStatErrUnsupported);
}

TEST_F(ParamTest, StringParamsPassCharPointers) {
  OfxParamHandle text = param("text").handle();
  char *value = nullptr;
  ASSERT_EQ(params_->paramGetValue(text, &value), kOfxStatOK);
  EXPECT_STREQ(value, "hello");
  ASSERT_EQ(params_->paramSetValue(text, "world"), kOfxStatOK);
  EXPECT_EQ(param("text").stringValue(), "world");

  OfxParamHandle flavour = param("flavour").handle();
  EXPECT_EQ(params_->paramSetValue(flavour, "bitter"), kOfxStatErrValue);
  EXPECT_EQ(params_->paramSetValue(flavour, "sweet"), kOfxStatOK);
  ASSERT_EQ(params_->paramGetValue(flavour, &value), kOfxStatOK);
  EXPECT_STREQ(value, "sweet");
}

TEST_F(ParamTest, SuiteRefusesWhatAnInstanceCannotDo) {
  OfxParamSetHandle set = nullptr;
  ASSERT_EQ(effects_->getParamSet(instance_->handle(), &set), kOfxStatOK);
  OfxParamHandle handle = nullptr;
  EXPECT_EQ(params_->paramGetHandle(set, "nothing", &handle, nullptr),
            kOfxStatErrUnknown);
  EXPECT_EQ(params_->paramDefine(set, kOfxParamTypeDouble, "late", nullptr),
            kOfxStatErrUnsupported);
  ASSERT_EQ(params_->paramGetHandle(set, "count", &handle, nullptr),
            kOfxStatOK);
  EXPECT_EQ(handle, param("count").handle());

  double d = 0;
  EXPECT_EQ(params_->paramGetValue(param("go").handle(), &d),
            kOfxStatErrUnsupported);
  int notAParam = 0;
  EXPECT_EQ(
      params_->paramGetValue(reinterpret_cast<OfxParamHandle>(&notAParam), &d),
      kOfxStatErrBadHandle);
  EXPECT_EQ(params_->paramGetValue(nullptr, &d), kOfxStatErrBadHandle);
}

TEST_F(ParamTest, InjectedGetFaultIsAnswered) {
  instance_->faults().paramGet = kOfxStatErrMemory;
  double d = 0;
  EXPECT_EQ(params_->paramGetValue(param("amount").handle(), &d),
            kOfxStatErrMemory);
  EXPECT_EQ(params_->paramGetValueAtTime(param("amount").handle(), 1.0, &d),
            kOfxStatErrMemory);
  instance_->faults().paramGet = kOfxStatOK;
  EXPECT_EQ(params_->paramGetValue(param("amount").handle(), &d), kOfxStatOK);
}

} // namespace
