#include <climits>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "json/JSONData.h"
#include "tests/CaptureOutput.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define ORVEL_LSAN_IGNORE(pointer) __lsan_ignore_object(pointer)
#endif
#endif
#if !defined(ORVEL_LSAN_IGNORE) && defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define ORVEL_LSAN_IGNORE(pointer) __lsan_ignore_object(pointer)
#endif
#ifndef ORVEL_LSAN_IGNORE
#define ORVEL_LSAN_IGNORE(pointer) (void)(pointer)
#endif

namespace orvel {
namespace {

// A root node held by the test; released (with everything it holds) at
// the end, so the leak checker sees whatever a mutation forgot.
class Tree {
 public:
  Tree() : root(new JSONData()) { JSONData::retain(root); }
  explicit Tree(const char* json) : Tree() { EXPECT_TRUE(root->setFromJsonStlString(json)); }
  ~Tree() { JSONData::release(root); }
  std::string text() const {
    std::string out;
    root->toJsonString(out, false, 4);
    return out;
  }
  JSONData* operator->() const { return root; }
  JSONData* const root;
};

JSONData* number(long long v) {
  JSONData* node = new JSONData();
  node->setLong(v);
  return node;
}

TEST(JSONData, TypeChangesAndKeys) {
  Tree tree(R"({"a":1,"b":2,"c":3})");
  tree->setObject();
  EXPECT_EQ(3, tree->length());

  Tree text;
  text->setString("x");
  text->setByKey("a", number(1));
  EXPECT_EQ(R"({"a":1})", text.text());

  tree->setByKey("b", number(20));  // in place
  tree->setByKey("d", nullptr);     // missing: nothing
  tree->setByKey("a", nullptr);
  EXPECT_EQ(R"({"b":20,"c":3})", tree.text());

  Tree twice(R"({"a":1,"a":2})");
  EXPECT_EQ(2, twice->getByKey("a")->longValue());
  twice->erase("a");
  EXPECT_EQ(1, twice->getByKey(std::string("a"))->longValue());
  EXPECT_EQ("a", *twice->getKeyAtIndex(0));
  EXPECT_EQ(nullptr, twice->getKeyAtIndex(1));
}

TEST(JSONData, IndexedSlots) {
  Tree tree("[0,1,2]");
  tree->setByIndex(3, number(3));
  tree->setByIndex(1, number(10));
  testing::CaptureOutput err(2);
  tree->setByIndex(5, number(5));  // freed: nobody else counts it
  EXPECT_EQ("JSONData::setByIndex(): index out of range\n", err.finish());
  tree->setByIndex(0, nullptr);
  tree->erase(-1);
  EXPECT_EQ("[10,2]", tree.text());

  Tree empty("[]");
  empty->erase(-1);
  empty->erase(0);
  EXPECT_EQ("[]", empty.text());
}

TEST(JSONData, ConversionsSaturate) {
  Tree tree("[-2.7, true, \"s\", 18446744073709551615.0, -18446744073709551615.0]");
  EXPECT_EQ(-2, tree->getByIndex(0)->longValue());
  EXPECT_EQ(1.0L, tree->getByIndex(1)->doubleValue());
  EXPECT_EQ(0, tree->getByIndex(2)->longValue());
  EXPECT_EQ(0.0L, tree->getByIndex(2)->doubleValue());
  EXPECT_EQ(LLONG_MAX, tree->getByIndex(3)->longValue());  // the parser's largest
  EXPECT_EQ(LLONG_MIN, tree->getByIndex(4)->longValue());
  JSONData big;
  big.setDouble(1e19L);
  EXPECT_EQ(LLONG_MAX, big.longValue());
  big.setDouble(-1e30L);
  EXPECT_EQ(LLONG_MIN, big.longValue());
  big.setDouble(NAN);
  EXPECT_EQ(0, big.longValue());
  EXPECT_TRUE(big.booleanValue());
}

TEST(JSONData, ValuesFromInsideTheReplacedContent) {
  // A value bound into its own container's replacement survives.
  Tree tree(R"([{"inner":[1,2]}])");
  tree->setByIndex(0, tree->getByIndex(0)->getByKey("inner"));
  EXPECT_EQ("[[1,2]]", tree.text());
  tree->setByKey("k", tree->getByIndex(0));  // the array becomes an object
  EXPECT_EQ(R"({"k":[1,2]})", tree.text());

  Tree named(R"({"own key":1})");
  named->setString(*named->getKeyAtIndex(0));
  EXPECT_EQ(R"("own key")", named.text());

  // copy from a descendant of another type, and onto itself
  Tree nested(R"({"list":[1,{"x":"y"}]})");
  nested->copy(*nested->getByKey("list"));
  EXPECT_EQ(R"([1,{"x":"y"}])", nested.text());
  JSONData* before = nested->getByIndex(1);
  nested->copy(*nested.root);
  EXPECT_EQ(R"([1,{"x":"y"}])", nested.text());
  EXPECT_NE(before, nested->getByIndex(1));
}

TEST(JSONData, HoldersKeepRemovedNodesAlive) {
  Tree tree("[[1],[2]]");
  JSONData* held = tree->getByIndex(1);
  JSONData::retain(held);
  tree->erase(1);
  tree->clear();
  EXPECT_EQ("[]", tree.text());
  EXPECT_EQ(2, held->getByIndex(0)->longValue());
  JSONData::release(held);

  JSONData* copy = tree->clone();
  EXPECT_EQ(0, copy->getRefCount());
  JSONData::retain(copy);
  JSONData::release(copy);
}

TEST(JSONData, CountSticksInsteadOfWrapping) {
  Tree tree("[[7]]");
  JSONData* shared = tree->getByIndex(0);
  ORVEL_LSAN_IGNORE(shared);  // a stuck node is never freed, by design
  for (int i = 0; i < 70000; ++i) {
    JSONData::retain(shared);
  }
  EXPECT_EQ(65535, shared->getRefCount());
  for (int i = 0; i < 70000; ++i) {
    JSONData::release(shared);
  }
  tree->clear();
  EXPECT_EQ(7, shared->getByIndex(0)->longValue());
}

TEST(JSONData, DeepTreesAreReleasedWithoutRecursion) {
  JSONData* root = new JSONData();
  JSONData::retain(root);
  JSONData* at = root;
  for (int depth = 0; depth < 1000000; ++depth) {
    JSONData* child = new JSONData();
    at->setByIndex(0, child);
    at = child;
  }
  JSONData::release(root);
}

}  // namespace
}  // namespace orvel
