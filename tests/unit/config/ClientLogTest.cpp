// The core's log hands every message, unchanged and in order, to the one sink its copies share.
#include "config/ClientLog.hpp"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using Level = ClientLog::Level;
using Entry = std::pair<Level, std::string>;

TEST(ClientLog, WithoutASinkEveryCallIsAccepted) {
    for (const ClientLog& log : {ClientLog(), ClientLog::silent(), ClientLog(ClientLog::Sink{})}) {
        EXPECT_NO_THROW({
            log.debug("d");
            log.info("i");
            log.warn("w");
            log.error("");
        });
    }
}

TEST(ClientLog, RecordingSinkGetsEveryMessageInOrderUnchanged) {
    auto entries = std::make_shared<std::vector<Entry>>();
    ClientLog log(
        [entries](Level level, const std::string& message) { entries->emplace_back(level, message); });

    log.info("Zyklus gestartet");
    log.debug("");
    log.warn("zwei\nZeilen %s {}");
    log.error("Ärger: 🙂");
    log.info("Zyklus gestartet");

    std::vector<Entry> expected = {
        {Level::info, "Zyklus gestartet"},   {Level::debug, ""},
        {Level::warn, "zwei\nZeilen %s {}"}, {Level::error, "Ärger: 🙂"},
        {Level::info, "Zyklus gestartet"},
    };
    EXPECT_EQ(*entries, expected);
}

TEST(ClientLog, CopiesShareOneSinkWithoutDuplicatingIt) {
    auto entries = std::make_shared<std::vector<Entry>>();
    ClientLog original(
        [entries](Level level, const std::string& message) { entries->emplace_back(level, message); });
    const long owners = entries.use_count();

    ClientLog copy = original;
    ClientLog assigned = ClientLog::silent();
    assigned = copy;
    // The captured state is held once, by the shared sink, however many copies exist.
    EXPECT_EQ(entries.use_count(), owners);

    original.info("a");
    copy.warn("b");
    assigned.error("c");
    EXPECT_EQ(*entries, (std::vector<Entry>{{Level::info, "a"}, {Level::warn, "b"}, {Level::error, "c"}}));
}

TEST(ClientLogLevel, RawValuesAreTheUpperCaseNames) {
    EXPECT_EQ(ClientLog::rawValue(Level::debug), "DEBUG");
    EXPECT_EQ(ClientLog::rawValue(Level::info), "INFO");
    EXPECT_EQ(ClientLog::rawValue(Level::warn), "WARN");
    EXPECT_EQ(ClientLog::rawValue(Level::error), "ERROR");
}

TEST(ClientLogLevel, FromRawValueIsExactAndCaseSensitive) {
    EXPECT_EQ(ClientLog::levelFromRawValue("DEBUG"), Level::debug);
    EXPECT_EQ(ClientLog::levelFromRawValue("INFO"), Level::info);
    EXPECT_EQ(ClientLog::levelFromRawValue("WARN"), Level::warn);
    EXPECT_EQ(ClientLog::levelFromRawValue("ERROR"), Level::error);
    for (const char* text :
         {"Info", "info", "warn", "Warn", "WARNING", "ERR", "", " INFO", "INFO ", "INFO\n"}) {
        EXPECT_EQ(ClientLog::levelFromRawValue(text), std::nullopt) << '"' << text << '"';
    }
    EXPECT_EQ(ClientLog::levelFromRawValue(std::string_view("INFO\0", 5)), std::nullopt);
}

} // namespace
