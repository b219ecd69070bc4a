#include <gtest/gtest.h>

#include <string>

#include "qlm_base_lists.h"

using namespace std::string_literals;

TEST(Resources, FirstRegistrationWinsUnderTrimmedUpperCaseNames) {
  // The framework's start leaves the registry empty.
  EXPECT_EQ(gResources, nullptr);
  EXPECT_EQ(resource_find("SETUP.IDF"), nullptr);
  static const char kFirst[] = "first";
  static const char kSecond[] = "second";
  rResourceEntry* a = resource_register("Setup.idf", kFirst, 5);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(gResources, nullptr);
  struct Case {
    std::string name;
    bool same;
  };
  const Case cases[] = {{"SETUP.IDF", true},      {"setup.idf  ", true}, {"Setup.idf\0\0"s, true},
                        {"setup.idf \0 "s, true}, {" setup.idf", false}, {"setup_idf", false},
                        {"SETUP.ÏDF", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(resource_find(c.name) == a, c.same);
  }
  // Registering a name that differs only in case or trailing blanks returns
  // the first entry and keeps its data.
  EXPECT_EQ(resource_register("SETUP.IDF \0"s, kSecond, 6), a);
  EXPECT_EQ(a->data, kFirst);
  EXPECT_EQ(a->size, 5);
  EXPECT_EQ(a->name, "Setup.idf");  // stored unchanged
  rResourceEntry* b = resource_register("logo.png", kSecond, 6);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(b, a);
  EXPECT_EQ(gResources->Count(), 2u);
  EXPECT_EQ(gResources->Find("LOGO.PNG"), b);
  EXPECT_EQ(gResources->Find(""), nullptr);
  resource_stop();
  EXPECT_EQ(resource_find("logo.png"), nullptr);
}

TEST(CharStringsList, AddAndClone) {
  cCharStringsList list;
  EXPECT_EQ(list.CapacityClass(), 6);
  rCharStringsEntry* a = list.Add("alpha");
  rCharStringsEntry* b = list.Add(std::string(100, 'b'));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(a->text, "alpha");
  cArray* copy = list.Clone();
  ASSERT_NE(copy, nullptr);
  auto* typed = dynamic_cast<cCharStringsList*>(copy);
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->Last()->text, std::string(100, 'b'));
  delete copy;
}

TEST(PhaseStack, PushAndPop) {
  cPhaseStack s;
  struct Step {
    int push;  // -1: pop
    int popped;
  };
  const Step steps[] = {{-1, 36}, {7, 0}, {9, 0}, {-1, 9}, {-1, 7}, {-1, 36}};
  for (const Step& st : steps) {
    if (st.push >= 0) {
      s.Push(uint8_t(st.push));
    } else {
      EXPECT_EQ(s.Pop(), st.popped);
    }
  }
  EXPECT_EQ(s.Count(), 0u);
  for (int i = 0; i < 100; ++i) s.Push(uint8_t(i));
  EXPECT_EQ(s.Count(), 100u);
  EXPECT_EQ(s.Pop(), 99);
}
