// The JSON file format of langmon-printer (and of sim: device URIs).
#include "printer_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace langmon::sim {
namespace {

TEST(PrinterConfig, OverlaysObjectsOnTheDefaults) {
  PrinterConfig config;
  std::string error;
  ASSERT_TRUE(ParsePrinterConfig(R"({
      "objects": {
        "050103030104": {"type": 2, "value": 3},
        "05010303010D": 26,
        "070104010303010d": -1,
        "0401020304": {"type": 0, "value": "AB"},
        "050103030126": null
      },
      "deviceId": "MFG:X;"
    })",
                                 config, error))
      << error;
  EXPECT_EQ(config.objects.at("050103030104"), (SimObject{ValueType::PaddedNumber, 3, {}}));
  // A bare number keeps the type the default object has.
  EXPECT_EQ(config.objects.at("05010303010d"), (SimObject{ValueType::Number, 26, {}}));
  EXPECT_EQ(config.objects.at("070104010303010d"),
            (SimObject{ValueType::PaddedNumber, 0xFFFFFFFFu, {}}));
  EXPECT_EQ(config.objects.at("0401020304"), (SimObject{ValueType::String, 0, "AB"}));
  EXPECT_EQ(config.objects.count("050103030126"), 0u);
  EXPECT_EQ(config.objects.count("050103030108"), 1u) << "defaults kept";
  EXPECT_EQ(config.deviceId, "MFG:X;");
}

TEST(PrinterConfig, StartsEmptyWithoutDefaultsAndReadsFaults) {
  PrinterConfig config;
  std::string error;
  ASSERT_TRUE(ParsePrinterConfig(R"({"defaults": false,
      "objects": {"050103030104": {"type": 9, "value": -2}},
      "faults": {"delayMs": 20, "split": [5, 3], "noise": "zz", "stale": true,
                 "silentAfter": 4, "silentObjects": ["05010303010D"], "unknown": "silent"}})",
                                 config, error))
      << error;
  ASSERT_EQ(config.objects.size(), 1u);
  EXPECT_EQ(config.objects.at("050103030104"),
            (SimObject{ValueType::PaddedNumber, 0xFFFFFFFEu, {}}));
  EXPECT_EQ(config.faults.replyDelayMs, 20u);
  EXPECT_EQ(config.faults.splitSizes, (std::vector<std::size_t>{5, 3}));
  EXPECT_EQ(config.faults.noise, "zz");
  EXPECT_EQ(config.faults.staleReply, kStaleReply);
  EXPECT_EQ(config.faults.silentAfterReplies, 4);
  EXPECT_EQ(config.faults.silentObjects, (std::set<std::string>{"05010303010d"}));
  EXPECT_EQ(config.faults.unknown, UnknownObjectReply::Silent);
}

TEST(PrinterConfig, RejectsMalformedFilesNamingTheMember) {
  struct Case {
    std::string text;
    const char* mentions;
  };
  const std::vector<Case> cases = {
      {"{", "JSON"},
      {"[]", "object"},
      {R"({"object": {}})", "object"},
      {R"({"objects": {"0501": 1}})", "0501"},  // length byte says 5
      {R"({"objects": {"05010303010g": 1}})", "05010303010g"},
      {R"({"objects": {"050103030104": {"type": 12, "value": 1}}})", "type"},
      {R"({"objects": {"050103030104": {"type": 2}}})", "value"},
      {R"({"objects": {"050103030104": {"type": 2, "value": "x"}}})", "value"},
      {R"({"objects": {"050103030104": {"type": 0, "value": 1}}})", "value"},
      {R"({"objects": {"050103030104": 4294967296}})", "050103030104"},
      {R"({"objects": {"050103030104": {"value": 1, "extra": 0}}})", "extra"},
      {R"({"deviceId": 5})", "deviceId"},
      {R"({"deviceId": ")" + std::string(65534, 'x') + R"("})", "deviceId: longer than the 65533"},
      {R"({"faults": {"split": [0]}})", "faults.split: an array of piece sizes from 1 to 65536"},
      {R"({"faults": {"split": [65537]}})", "faults.split"},
      {R"({"faults": {"delayMs": -1}})",
       "faults.delayMs: a whole number of milliseconds from 0 to 3600000 is expected"},
      {R"({"faults": {"delayMs": 3600001}})", "faults.delayMs"},
      {R"({"faults": {"delayMs": 1.5}})", "faults.delayMs"},
      {R"({"faults": {"silentAfter": -1}})", "faults.silentAfter: a number of replies from 0"},
      {R"({"faults": {"loud": true}})", "faults.loud: unknown member"},
      {R"({"faults": {"unknown": "loud"}})", "unknown"},
      {R"({"defaults": "yes"})", "defaults"},
  };
  for (const Case& c : cases) {
    PrinterConfig config;
    const SimObjectMap before = config.objects;
    std::string error;
    EXPECT_FALSE(ParsePrinterConfig(c.text, config, error)) << c.text;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << c.text << " -> " << error;
    EXPECT_EQ(config.objects, before) << "a failed parse changes nothing";
  }
}

TEST(PrinterConfig, MissingFileIsReported) {
  PrinterConfig config;
  std::string error;
  EXPECT_FALSE(LoadPrinterConfig("/nonexistent/objects.json", config, error));
  EXPECT_NE(error.find("/nonexistent/objects.json"), std::string::npos);
}

}  // namespace
}  // namespace langmon::sim
