#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "json/JSOM.h"
#include "tests/Testing.h"

namespace orvel {
namespace {

using testing::CaptureOutput;

std::string compact(const JSOM& handle) {
  std::string out;
  return handle.toCompactString(out, 4);
}

TEST(JSOM, PlacesAreMadeOnlyByWritesAndOnwardNavigation) {
  JSOM doc;
  doc["a"].setLong(5);
  EXPECT_EQ(R"({"a":5})", compact(doc));

  EXPECT_EQ("none", doc["x"].stringValue(std::string("none")));
  EXPECT_EQ(R"({"a":5})", compact(doc));
  EXPECT_EQ(7, doc["x"]["y"].longValue(7));  // x is made on the way
  EXPECT_EQ(R"({"a":5,"x":{}})", compact(doc));

  doc["list"][-1].setLong(1);
  doc["list"][-1].setLong(2);
  doc["list"][2].setString("appended at the size");
  EXPECT_EQ(R"([1,2,"appended at the size"])", compact(doc["list"]));
  EXPECT_EQ(3, doc["list"].size());
  EXPECT_EQ("list", *doc.key(2));

  CaptureOutput err(2);
  JSOM beyond = doc["list"].at(5);
  JSOM beyondToo = doc["list"][7];
  EXPECT_EQ(
      "JSOM::at(int32_t): index out of bounds\n"
      "JSOM::operator[](int32_t): index out of bounds\n",
      err.finish());
  EXPECT_EQ(9, beyond.longValue(9));
  EXPECT_FALSE(beyond.booleanValue(false));
}

TEST(JSOM, GettersConvertInPlaceOnlyWhenTheyCanRead) {
  JSOM doc;
  ASSERT_NE(&JSOM::JERROR,
            &doc.fromString(R"({"d":2.5,"n":"42","bad":["42 ","+42","4.2"],"f":"-1.50",)"
                            R"("e":"1e3","on":["ON","Yes","TRUE","1"],"off":["off","FALSE","n"],)"
                            R"("keep":["no","enabled","nope"]})"));
  // Each getter reads what it can and converts the node in place when it did.
  std::string got = doc["d"].stringValue(JSOM::EMPTY_STRING) + " " +
                    std::to_string(doc["n"].longValue(0)) + " " +
                    std::to_string(static_cast<double>(doc["f"].doubleValue(0))) + " " +
                    std::to_string(static_cast<double>(doc["e"].doubleValue(0)));
  for (int i = 0; i < 4; ++i) {
    got += doc["on"][i].booleanValue(false) ? " on" : " off";
  }
  for (int i = 0; i < 3; ++i) {
    got += std::to_string(doc["bad"][i].longValue(0)) +
           (doc["off"][i].booleanValue(true) ? " on" : " off");
  }
  got += doc["keep"][0].booleanValue(true) && !doc["keep"][1].booleanValue(false) ? " kept" : "";
  EXPECT_EQ("2.5 42 -1.500000 0.000000 on on on on0 off0 off0 off kept", got);
  EXPECT_FALSE(doc["d"].isNumber());
  EXPECT_TRUE(doc["n"].isNumber() && doc["bad"][2].isString() && doc["off"][2].isBoolean());
  EXPECT_TRUE(doc["keep"][1].isString() && doc["keep"][2].booleanValue(true));
  EXPECT_FALSE(doc["d"].isArray() || doc["missing"].isArray());
  EXPECT_TRUE(doc["on"].isArray());
  EXPECT_STREQ("fallback", doc["missing"].stringValuePtr("fallback"));
  EXPECT_EQ(
      R"({"d":"2.5","n":42,"bad":["42 ","+42","4.2"],"f":-1.5,"e":"1e3","on":[true,true,true,true],)"
      R"("off":[false,false,false],"keep":["no","enabled","nope"]})",
      compact(doc));
}

TEST(JSOM, AssignmentCopiesWhileCopiesShare) {
  JSOM source;
  source["v"].setLong(1);
  JSOM target;
  target["t"] = source;
  JSOM shared(source);
  source["v"].setLong(2);
  EXPECT_EQ(R"({"t":{"v":1}})", compact(target));
  EXPECT_EQ(R"({"v":2})", compact(shared));

  JSOM key = source["nothing"];
  JSOM pending(key);  // a copy of a handle that holds a key
  target["t"] = pending;
  target["t"] = JSOM::JERROR;
  EXPECT_EQ(R"({"t":{"v":1}})", compact(target));
  target["f"].copy(pending);
  EXPECT_EQ(R"({"t":{"v":1},"f":false})", compact(target));

  std::string out = "before:";
  target["f"].toString(out, 4);
  EXPECT_EQ("before:false", out);
}

TEST(JSOM, ErrorAndBlankStayInert) {
  CaptureOutput err(2);
  JSOM::JERROR.setLong(1);
  JSOM::JERROR["k"].setLong(1);
  JSOM::BLANK["k"].setLong(1);
  JSOM::BLANK.setString("x");
  const std::string refused = ": null reference error\n";  // the copy of JERROR refuses too
  EXPECT_EQ("JSOM::setLong()" + refused + "JSOM::operator[](char *)" + refused + "JSOM::setLong()" +
                refused + "JSOM::operator[](char *)" + refused + "JSOM::setLong()" + refused +
                "JSOM::setString(char *)" + refused,
            err.finish());
  JSOM copyOfBlank(JSOM::BLANK);
  EXPECT_EQ("", compact(copyOfBlank));
  copyOfBlank.setLong(3);
  EXPECT_EQ("", compact(JSOM::BLANK));
  EXPECT_EQ(0, JSOM::JERROR.size());
}

TEST(JSOM, WhatTheLibraryWritesReadsBack) {
  JSOM doc;
  doc["a"].setLong(1);
  EXPECT_EQ(&JSOM::JERROR, &doc["cfg"].fromString("   "));
  EXPECT_EQ(&JSOM::JERROR, &doc["a"].fromString("   "));  // a keeps its value
  JSOM self = doc["self"];
  self = doc;
  std::string text;
  doc.toString(text, 4);
  JSOM again;
  EXPECT_NE(&JSOM::JERROR, &again.fromString(text)) << text;
  EXPECT_EQ(R"({"a":1,"self":{"a":1}})", compact(again));

  // A node that never got a value (made for a load that failed, outside
  // any container) is not copied into one.
  JSOM list;
  list.fromString("[1,2]");
  JSOM place = list[2];
  list.erase(0);  // position 2 is now beyond the end
  CaptureOutput err(2);
  place.fromString(" ");
  EXPECT_EQ("JSONData::setByIndex(): index out of range\n", err.finish());
  JSOM target;
  target["k"] = place;
  target["f"].copy(place);
  EXPECT_EQ(R"({"f":false})", compact(target));
}

using DocumentTest = testing::ScratchTest;

TEST_F(DocumentTest, LoadingFailuresAndAppending) {
  writeFile(path("empty"), "");
  writeFile(path("broken"), "[1 2]");
  JSOM doc;
  CaptureOutput err(2);
  EXPECT_EQ(&JSOM::JERROR, &doc.fromFile(path("missing").c_str()));
  EXPECT_EQ(&JSOM::JERROR, &doc.fromFile(path("empty").c_str()));
  EXPECT_EQ(&JSOM::JERROR, &doc.fromFile(path("broken").c_str()));
  EXPECT_EQ(
      "JSOM::fromFile(): could not open file\n"
      "JSOM::fromFile(): could not read file\n"
      "JSONData::setFromJsonString(): syntax error: array comma or end expected\n",
      err.finish());

  JSOM object;
  object.fromString(R"({"a":1})");
  EXPECT_EQ(&object, &object.fromString(std::string(R"({"b":2})")));
  EXPECT_EQ(R"({"a":1,"b":2})", compact(object));

  JSOM unset;
  EXPECT_TRUE(unset.toFile(path("unset").c_str(), 4));
  struct stat status;
  ASSERT_EQ(0, stat(path("unset").c_str(), &status));
  EXPECT_EQ(0, status.st_size);
  EXPECT_TRUE(object.toFile(path("saved").c_str(), 4));
  JSOM loaded;
  loaded.fromFile(path("saved").c_str());
  EXPECT_EQ(R"({"a":1,"b":2})", compact(loaded));

  // Files without a size (a pipe) load too.
  ASSERT_EQ(0, mkfifo(path("fifo").c_str(), 0600));
  std::thread writer([&] { writeFile(path("fifo"), R"({"piped":true})"); });
  EXPECT_NE(&JSOM::JERROR, &loaded.fromFile(path("fifo").c_str()));
  writer.join();
  EXPECT_EQ(R"({"a":1,"b":2,"piped":true})", compact(loaded));

  std::istringstream bad("[1,");
  JSOM streamed;
  EXPECT_TRUE(streamed.fromStream(bad).fail());
  std::ostringstream out;
  loaded.toStream(out);
  EXPECT_EQ(R"({"a":1,"b":2,"piped":true})", out.str());
}

TEST(JSOM, EnvironmentReferencesExpand) {
  setenv("ORVEL_TEST_HOME", "/home/u", 1);
  setenv("ORVEL_TEST_EMPTY", "", 1);
  unsetenv("ORVEL_TEST_UNDEFINED");
  JSOM doc;
  doc.fromString(
      R"({"a":"${ORVEL_TEST_HOME}/x","b":["$ORVEL_TEST_HOME/x","${}","${ORVEL_TEST_UNDEFINED}"],)"
      R"("c":{"d":"${ORVEL_TEST_HOME}/${ORVEL_TEST_UNDEFINED}"},)"
      R"("e":"${ORVEL_TEST_HOME}+${ORVEL_TEST_HOME","f":"[${ORVEL_TEST_EMPTY}]","n":5})");
  doc.expandValues();
  EXPECT_EQ(R"({"a":"/home/u/x","b":["$ORVEL_TEST_HOME/x","${}","${ORVEL_TEST_UNDEFINED}"],)"
            R"("c":{"d":"/home/u/${ORVEL_TEST_UNDEFINED}"},"e":"/home/u+${ORVEL_TEST_HOME",)"
            R"("f":"[]","n":5})",
            compact(doc));
}

}  // namespace
}  // namespace orvel
