// The property suite's statuses and storage rules, as a plug-in meets them.
#include "HostTestSupport.h"

#include <stdexcept>

namespace {

using ofxhost::PropertySet;

class PropertySuiteTest : public ::testing::Test {
protected:
  void SetUp() override {
    suite_ = hosttest::suite<OfxPropertySuiteV1>(host_, kOfxPropertySuite);
    ASSERT_NE(suite_, nullptr);
    set_.setInts("ints", {1, 2, 3});
    set_.setDoubles("doubles", {0.5});
    set_.setStrings("strings", {"a", "b"});
    set_.setPointer("pointer", &set_);
    h_ = set_.handle();
  }

  ofxhost::Host host_;
  const OfxPropertySuiteV1 *suite_ = nullptr;
  PropertySet set_;
  OfxPropertySetHandle h_ = nullptr;
};

TEST_F(PropertySuiteTest, GettersAnswerUnknownBadIndexAndWrongType) {
  int i = 0;
  double d = 0;
  char *s = nullptr;
  void *p = nullptr;
  EXPECT_EQ(suite_->propGetInt(h_, "missing", 0, &i), kOfxStatErrUnknown);
  EXPECT_EQ(suite_->propGetString(h_, "missing", 0, &s), kOfxStatErrUnknown);
  EXPECT_EQ(suite_->propGetInt(h_, "ints", 3, &i), kOfxStatErrBadIndex);
  EXPECT_EQ(suite_->propGetInt(h_, "ints", -1, &i), kOfxStatErrBadIndex);
  EXPECT_EQ(suite_->propGetDouble(h_, "doubles", 1, &d), kOfxStatErrBadIndex);
  EXPECT_EQ(suite_->propGetDouble(h_, "ints", 0, &d), kOfxStatErrValue);
  EXPECT_EQ(suite_->propGetInt(h_, "doubles", 0, &i), kOfxStatErrValue);
  EXPECT_EQ(suite_->propGetString(h_, "pointer", 0, &s), kOfxStatErrValue);
  EXPECT_EQ(suite_->propGetPointer(h_, "strings", 0, &p), kOfxStatErrValue);

  EXPECT_EQ(suite_->propGetInt(h_, "ints", 2, &i), kOfxStatOK);
  EXPECT_EQ(i, 3);
  EXPECT_EQ(suite_->propGetPointer(h_, "pointer", 0, &p), kOfxStatOK);
  EXPECT_EQ(p, &set_);

  int three[3] = {};
  int four[4] = {};
  EXPECT_EQ(suite_->propGetIntN(h_, "ints", 3, three), kOfxStatOK);
  EXPECT_EQ(three[0] + three[1] + three[2], 6);
  EXPECT_EQ(suite_->propGetIntN(h_, "ints", 4, four), kOfxStatErrBadIndex);
  double dd[1];
  EXPECT_EQ(suite_->propGetDoubleN(h_, "ints", 1, dd), kOfxStatErrValue);
}

TEST_F(PropertySuiteTest, SettersCheckTypeIndexAndName) {
  // The set is not a descriptor: a plug-in cannot invent names on it.
  EXPECT_EQ(suite_->propSetInt(h_, "invented", 0, 1), kOfxStatErrUnknown);
  const int one[1] = {1};
  EXPECT_EQ(suite_->propSetIntN(h_, "invented", 1, one), kOfxStatErrUnknown);
  EXPECT_FALSE(set_.has("invented"));
  EXPECT_EQ(suite_->propSetDouble(h_, "ints", 0, 1.0), kOfxStatErrValue);
  EXPECT_EQ(suite_->propSetString(h_, "doubles", 0, "x"), kOfxStatErrValue);
  EXPECT_EQ(suite_->propSetInt(h_, "ints", 4, 9), kOfxStatErrBadIndex);
  EXPECT_EQ(suite_->propSetInt(h_, "ints", -1, 9), kOfxStatErrBadIndex);
  EXPECT_EQ(suite_->propSetString(h_, "strings", 0, nullptr), kOfxStatErrValue);
  EXPECT_EQ(set_.getInts("ints"), (std::vector<int>{1, 2, 3}));
}

TEST_F(PropertySuiteTest, SettingJustPastTheEndGrowsTheProperty) {
  EXPECT_EQ(suite_->propSetString(h_, "strings", 2, "c"), kOfxStatOK);
  EXPECT_EQ(set_.getStrings("strings"),
            (std::vector<std::string>{"a", "b", "c"}));
  int dimension = 0;
  EXPECT_EQ(suite_->propGetDimension(h_, "strings", &dimension), kOfxStatOK);
  EXPECT_EQ(dimension, 3);
  EXPECT_EQ(suite_->propGetDimension(h_, "missing", &dimension),
            kOfxStatErrUnknown);
}

TEST_F(PropertySuiteTest, ManySettersReplaceEveryValue) {
  const double two[2] = {7.0, 8.0};
  EXPECT_EQ(suite_->propSetDoubleN(h_, "doubles", 2, two), kOfxStatOK);
  EXPECT_EQ(set_.getDoubles("doubles"), (std::vector<double>{7.0, 8.0}));
  const int one[1] = {5};
  EXPECT_EQ(suite_->propSetIntN(h_, "ints", 1, one), kOfxStatOK);
  EXPECT_EQ(set_.getInts("ints"), (std::vector<int>{5}));
  EXPECT_EQ(suite_->propSetIntN(h_, "ints", 0, nullptr), kOfxStatOK);
  EXPECT_EQ(set_.dimension("ints"), 0);
}

TEST_F(PropertySuiteTest, StringPointersSurviveUnrelatedChanges) {
  char *first = nullptr;
  ASSERT_EQ(suite_->propGetString(h_, "strings", 0, &first), kOfxStatOK);
  // Growing the property, rewriting it with the same values and changing
  // other properties must not move the value the plug-in is holding.
  for (int i = 2; i < 40; ++i)
    ASSERT_EQ(suite_->propSetString(h_, "strings", i, "grown"), kOfxStatOK);
  const char *same[2] = {"a", "b"};
  ASSERT_EQ(suite_->propSetStringN(h_, "strings", 2, same), kOfxStatOK);
  set_.setString("another", "value");
  char *again = nullptr;
  ASSERT_EQ(suite_->propGetString(h_, "strings", 0, &again), kOfxStatOK);
  EXPECT_EQ(first, again);
  EXPECT_STREQ(first, "a");
}

TEST_F(PropertySuiteTest, ResetRestoresTheHostsValue) {
  ASSERT_EQ(suite_->propSetInt(h_, "ints", 0, 99), kOfxStatOK);
  ASSERT_EQ(suite_->propSetInt(h_, "ints", 3, 4), kOfxStatOK);
  EXPECT_EQ(suite_->propReset(h_, "ints"), kOfxStatOK);
  EXPECT_EQ(set_.getInts("ints"), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(suite_->propReset(h_, "missing"), kOfxStatErrUnknown);
}

// The short and long labels follow the label unless the plug-in set them;
// a reset hands a label back to the host, and to the label.
TEST_F(PropertySuiteTest, ResetLabelsFollowTheLabelAgain) {
  for (const char *name :
       {kOfxPropLabel, kOfxPropShortLabel, kOfxPropLongLabel})
    set_.setString(name, "host");
  ASSERT_EQ(suite_->propSetString(h_, kOfxPropShortLabel, 0, "S"), kOfxStatOK);
  ASSERT_EQ(suite_->propSetString(h_, kOfxPropLabel, 0, "L"), kOfxStatOK);
  EXPECT_EQ(set_.getString(kOfxPropShortLabel), "S");
  EXPECT_EQ(set_.getString(kOfxPropLongLabel), "L");
  ASSERT_EQ(suite_->propReset(h_, kOfxPropShortLabel), kOfxStatOK);
  EXPECT_EQ(set_.getString(kOfxPropShortLabel), "host");
  ASSERT_EQ(suite_->propSetString(h_, kOfxPropLabel, 0, "M"), kOfxStatOK);
  EXPECT_EQ(set_.getString(kOfxPropShortLabel), "M");
  EXPECT_EQ(set_.getString(kOfxPropLongLabel), "M");
}

TEST_F(PropertySuiteTest, ForeignAndNullHandlesAreRefused) {
  int i = 0;
  int notASet = 0;
  auto foreign = reinterpret_cast<OfxPropertySetHandle>(&notASet);
  EXPECT_EQ(suite_->propGetInt(nullptr, "ints", 0, &i), kOfxStatErrBadHandle);
  EXPECT_EQ(suite_->propGetInt(foreign, "ints", 0, &i), kOfxStatErrBadHandle);
  EXPECT_EQ(suite_->propSetInt(foreign, "ints", 0, 1), kOfxStatErrBadHandle);
  EXPECT_EQ(suite_->propGetInt(h_, nullptr, 0, &i), kOfxStatErrUnknown);
  EXPECT_EQ(suite_->propGetInt(h_, "ints", 0, nullptr), kOfxStatErrValue);

  OfxPropertySetHandle dead = nullptr;
  {
    PropertySet gone;
    dead = gone.handle();
  }
  EXPECT_EQ(suite_->propGetInt(dead, "ints", 0, &i), kOfxStatErrBadHandle);
}

TEST(PropertySetTest, CxxAccessorsThrowForMissingNamesIndicesAndTypes) {
  PropertySet set;
  set.setInt("b", 1);
  set.setString("a", "x");
  set.setDouble("c", 2.0);
  EXPECT_EQ(set.names(), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_THROW(set.getInt("missing"), std::out_of_range);
  EXPECT_THROW(set.getInt("b", 1), std::out_of_range);
  EXPECT_THROW(set.getDouble("b"), std::invalid_argument);
  EXPECT_THROW(set.setString("b", "text"), std::invalid_argument);
  EXPECT_THROW(set.setInt("b", 5, 3), std::out_of_range);
  set.setInt("b", 5, 1);
  EXPECT_EQ(set.getInts("b"), (std::vector<int>{1, 5}));
  EXPECT_EQ(set.type("c"), PropertySet::Type::Double);
  set.remove("a");
  EXPECT_FALSE(set.has("a"));
  EXPECT_EQ(set.names(), (std::vector<std::string>{"b", "c"}));
}

} // namespace
