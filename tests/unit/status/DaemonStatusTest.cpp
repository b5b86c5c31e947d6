#include "status/DaemonStatus.hpp"

#include "ScratchDirectory.hpp"
#include "TestFiles.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <sstream>
#include <sys/stat.h>

namespace {

using State = DaemonStatus::State;
using Clock = std::chrono::system_clock;

Clock::time_point at(int year, unsigned month, unsigned day, int hour, int minute, int second) {
    using namespace std::chrono;
    sys_days date = year_month_day{std::chrono::year{year}, std::chrono::month{month}, std::chrono::day{day}};
    return time_point_cast<Clock::duration>(date + hours{hour} + minutes{minute} + seconds{second});
}

DaemonStatus fullStatus() {
    return DaemonStatus{State::ok,
                        "DynDNS aktualisiert: 203.0.113.7 / 2001:db8::1.",
                        "home.example.net",
                        "203.0.113.7",
                        "2001:db8::1",
                        at(2026, 1, 31, 8, 15, 0),
                        at(2026, 1, 31, 8, 20, 5),
                        "0.24.0"};
}

DaemonStatus minimalStatus() {
    return DaemonStatus{
        State::idle,  "Keine Konfiguration gefunden.", std::nullopt, std::nullopt, std::nullopt,
        std::nullopt, at(2026, 2, 1, 0, 0, 0),         "0.24.0"};
}

// --- state vocabulary ----------------------------------------------------------------------------------

TEST(DaemonStatusState, CycleOutcomesMapToStates) {
    const std::pair<UpdateCycleStatus, State> table[] = {
        {UpdateCycleStatus::updated, State::ok},
        {UpdateCycleStatus::unchanged, State::ok},
        {UpdateCycleStatus::noPublicIp, State::warning},
        {UpdateCycleStatus::fatalError, State::error},
        {UpdateCycleStatus::transientError, State::warning},
    };
    for (const auto& [status, state] : table) {
        EXPECT_EQ(DaemonStatus::stateFor(status), state) << static_cast<int>(status);
    }
}

TEST(DaemonStatusState, TextsAreExactAndCaseSensitive) {
    const std::pair<State, const char*> table[] = {
        {State::ok, "ok"}, {State::warning, "warning"}, {State::error, "error"}, {State::idle, "idle"}};
    for (const auto& [state, text] : table) {
        EXPECT_EQ(DaemonStatus::text(state), text);
        EXPECT_EQ(DaemonStatus::stateFromText(text), state) << text;
    }
    for (const char* text : {"OK", "Idle", "WARNING", " ok", "ok ", "", "fine", "okay"}) {
        EXPECT_EQ(DaemonStatus::stateFromText(text), std::nullopt) << text;
    }
}

// --- encoding ------------------------------------------------------------------------------------------

TEST(StatusFileEncode, FullStatusHasAllKeysSortedAndPretty) {
    EXPECT_EQ(StatusFile::encode(fullStatus()), "{\n"
                                                "  \"daemonVersion\": \"0.24.0\",\n"
                                                "  \"hostname\": \"home.example.net\",\n"
                                                "  \"lastIpv4\": \"203.0.113.7\",\n"
                                                "  \"lastIpv6\": \"2001:db8::1\",\n"
                                                "  \"lastSuccessAt\": \"2026-01-31T08:15:00Z\",\n"
                                                "  \"message\": \"DynDNS aktualisiert: 203.0.113.7 \\/ "
                                                "2001:db8::1.\",\n"
                                                "  \"state\": \"ok\",\n"
                                                "  \"updatedAt\": \"2026-01-31T08:20:05Z\"\n"
                                                "}");
}

TEST(StatusFileEncode, MinimalStatusHasExactlyTheFourRequiredKeys) {
    EXPECT_EQ(StatusFile::encode(minimalStatus()), "{\n"
                                                   "  \"daemonVersion\": \"0.24.0\",\n"
                                                   "  \"message\": \"Keine Konfiguration gefunden.\",\n"
                                                   "  \"state\": \"idle\",\n"
                                                   "  \"updatedAt\": \"2026-02-01T00:00:00Z\"\n"
                                                   "}");
}

TEST(StatusFileEncode, EveryStateIsWrittenAsItsText) {
    for (State state : {State::ok, State::warning, State::error, State::idle}) {
        DaemonStatus status = minimalStatus();
        status.state = state;
        std::string expected = "\"state\": \"" + std::string(DaemonStatus::text(state)) + "\"";
        EXPECT_NE(StatusFile::encode(status).find(expected), std::string::npos) << expected;
        EXPECT_EQ(StatusFile::decode(StatusFile::encode(status)), status);
    }
}

TEST(StatusFileEncode, GermanTextStaysUtf8) {
    DaemonStatus status = minimalStatus();
    status.message = "IP unverändert (203.0.113.7).";
    EXPECT_NE(StatusFile::encode(status).find("\"message\": \"IP unverändert (203.0.113.7).\""),
              std::string::npos);
}

// --- round trip ----------------------------------------------------------------------------------------

TEST(StatusFileRoundTrip, WholeSecondsSurviveTheFile) {
    ScratchDirectory dir;
    StatusFile file(dir / "status.json");
    for (const DaemonStatus& status : {fullStatus(), minimalStatus()}) {
        file.write(status);
        EXPECT_EQ(readFile(file.path()), StatusFile::encode(status));
        EXPECT_EQ(file.load(), status);
    }
}

TEST(StatusFileRoundTrip, FractionsOfASecondAreDropped) {
    ScratchDirectory dir;
    StatusFile file(dir / "status.json");
    DaemonStatus status = fullStatus();
    status.updatedAt += std::chrono::milliseconds(750);
    status.lastSuccessAt = *status.lastSuccessAt + std::chrono::milliseconds(1);

    file.write(status);
    std::optional<DaemonStatus> loaded = file.load();

    ASSERT_TRUE(loaded.has_value());
    EXPECT_NE(*loaded, status);
    EXPECT_EQ(loaded->updatedAt, at(2026, 1, 31, 8, 20, 5));
    EXPECT_EQ(loaded->lastSuccessAt, at(2026, 1, 31, 8, 15, 0));
}

// --- decoding ------------------------------------------------------------------------------------------

const char* const required =
    R"("daemonVersion":"0.24.0","message":"m","state":"ok","updatedAt":"2026-01-31T08:15:00Z")";

std::string withRequired(const std::string& extra) {
    return "{" + std::string(required) + (extra.empty() ? "" : "," + extra) + "}";
}

struct RejectCase {
    const char* name;
    std::string document;
};

void PrintTo(const RejectCase& c, std::ostream* out) {
    *out << c.name;
}

class StatusFileReject : public ::testing::TestWithParam<RejectCase> {};

TEST_P(StatusFileReject, WholeDocumentIsUnreadable) {
    const RejectCase& c = GetParam();
    EXPECT_EQ(StatusFile::decode(c.document), std::nullopt) << c.document;

    ScratchDirectory dir;
    writeFile(dir / "status.json", c.document);
    EXPECT_EQ(StatusFile(dir / "status.json").load(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusFileReject,
    ::testing::Values(
        RejectCase{"noDaemonVersion", R"({"message":"m","state":"ok","updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{"noMessage",
                   R"({"daemonVersion":"0.24.0","state":"ok","updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{"noState",
                   R"({"daemonVersion":"0.24.0","message":"m","updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{"noUpdatedAt", R"({"daemonVersion":"0.24.0","message":"m","state":"ok"})"},
        RejectCase{
            "nullMessage",
            R"({"daemonVersion":"0.24.0","message":null,"state":"ok","updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{
            "nullState",
            R"({"daemonVersion":"0.24.0","message":"m","state":null,"updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{
            "upperCaseState",
            R"({"daemonVersion":"0.24.0","message":"m","state":"OK","updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{
            "fifthState",
            R"({"daemonVersion":"0.24.0","message":"m","state":"paused","updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{
            "numericState",
            R"({"daemonVersion":"0.24.0","message":"m","state":0,"updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{
            "numericMessage",
            R"({"daemonVersion":"0.24.0","message":5,"state":"ok","updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{"boolVersion",
                   R"({"daemonVersion":true,"message":"m","state":"ok","updatedAt":"2026-01-31T08:15:00Z"})"},
        RejectCase{
            "updatedAtWithFraction",
            R"({"daemonVersion":"0.24.0","message":"m","state":"ok","updatedAt":"2026-01-31T08:15:00.250Z"})"},
        RejectCase{
            "updatedAtWithoutZone",
            R"({"daemonVersion":"0.24.0","message":"m","state":"ok","updatedAt":"2026-01-31T08:15:00"})"},
        RejectCase{
            "updatedAtWithBlank",
            R"({"daemonVersion":"0.24.0","message":"m","state":"ok","updatedAt":"2026-01-31 08:15:00Z"})"},
        RejectCase{
            "updatedAtImpossibleDate",
            R"({"daemonVersion":"0.24.0","message":"m","state":"ok","updatedAt":"2026-02-30T08:15:00Z"})"},
        RejectCase{"updatedAtAsNumber",
                   R"({"daemonVersion":"0.24.0","message":"m","state":"ok","updatedAt":1769847300})"},
        RejectCase{"lastSuccessWithFraction", withRequired(R"("lastSuccessAt":"2026-01-31T08:15:00.5Z")")},
        RejectCase{"lastSuccessNotADate", withRequired(R"("lastSuccessAt":"gestern")")},
        RejectCase{"lastSuccessAsNumber", withRequired(R"("lastSuccessAt":0)")},
        RejectCase{"hostnameNumber", withRequired(R"("hostname":5)")},
        RejectCase{"lastIpv4Array", withRequired(R"("lastIpv4":["203.0.113.7"])")},
        RejectCase{"lastIpv6Object", withRequired(R"("lastIpv6":{})")},
        RejectCase{"topLevelArray", "[" + withRequired("") + "]"},
        RejectCase{"truncated", withRequired("").substr(0, 40)}, RejectCase{"notJson", "state=ok"},
        RejectCase{"empty", ""}, RejectCase{"invalidUtf8", withRequired("\"hostname\":\"h\xc3\"")}),
    [](const ::testing::TestParamInfo<RejectCase>& info) { return std::string(info.param.name); });

TEST(StatusFileDecode, OptionalKeysMayBeMissingOrNullAndUnknownKeysAreIgnored) {
    std::optional<DaemonStatus> missing = StatusFile::decode(withRequired(""));
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->state, State::ok);
    EXPECT_EQ(missing->message, "m");
    EXPECT_EQ(missing->daemonVersion, "0.24.0");
    EXPECT_EQ(missing->updatedAt, at(2026, 1, 31, 8, 15, 0));
    EXPECT_EQ(missing->hostname, std::nullopt);
    EXPECT_EQ(missing->lastSuccessAt, std::nullopt);

    std::optional<DaemonStatus> nulls = StatusFile::decode(withRequired(
        R"("hostname":null,"lastIpv4":null,"lastIpv6":null,"lastSuccessAt":null,"extra":[1,2])"));
    EXPECT_EQ(nulls, missing);
}

TEST(StatusFileDecode, KeyOrderAndZoneOffsetsAreAccepted) {
    std::optional<DaemonStatus> status = StatusFile::decode(
        R"({"updatedAt":"2026-01-31T09:15:00+01:00","state":"error","message":"m","daemonVersion":"0.23.1",)"
        R"("lastSuccessAt":"2026-01-30T23:00:00-02:00","hostname":"home.example.net"})");
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->state, State::error);
    EXPECT_EQ(status->updatedAt, at(2026, 1, 31, 8, 15, 0));
    EXPECT_EQ(status->lastSuccessAt, at(2026, 1, 31, 1, 0, 0));
    EXPECT_EQ(status->hostname, "home.example.net");
    EXPECT_EQ(status->daemonVersion, "0.23.1");
}

// --- loading -------------------------------------------------------------------------------------------

TEST(StatusFileLoad, MissingOrUnreadableFileGivesNothing) {
    ScratchDirectory dir;
    EXPECT_EQ(StatusFile(dir / "status.json").load(), std::nullopt);
    std::filesystem::create_directory(dir / "adirectory");
    EXPECT_EQ(StatusFile(dir / "adirectory").load(), std::nullopt);
}

TEST(StatusFileConstruct, TouchesNothingOnDisk) {
    ScratchDirectory dir;
    StatusFile file(dir / "sub" / "status.json");
    EXPECT_EQ(file.path(), dir / "sub" / "status.json");
    EXPECT_FALSE(std::filesystem::exists(dir / "sub"));
}

// --- writing -------------------------------------------------------------------------------------------

TEST(StatusFileWrite, CreatesMissingDirectories) {
    ScratchDirectory dir;
    StatusFile file(dir / "Library" / "Application Support" / "status.json");
    file.write(minimalStatus());
    EXPECT_EQ(file.load(), minimalStatus());
}

TEST(StatusFileWrite, ModeIs0644WhateverTheUmaskAndTheOldMode) {
    ScratchDirectory dir;
    StatusFile file(dir / "status.json");
    writeFile(file.path(), "old");
    ::chmod(file.path().c_str(), 0600);
    for (mode_t umask : {mode_t{077}, mode_t{0}, mode_t{022}}) {
        {
            UmaskGuard guard(umask);
            file.write(fullStatus());
        }
        EXPECT_EQ(modeOf(file.path()), 0644u) << "umask " << umask;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "status.json.tmp"));
}

TEST(StatusFileWrite, LeftoverTemporaryFileIsReplaced) {
    ScratchDirectory dir;
    StatusFile file(dir / "status.json");
    writeFile(dir / "status.json.tmp", "half a docu");
    ::chmod((dir / "status.json.tmp").c_str(), 0600);

    file.write(fullStatus());

    EXPECT_EQ(file.load(), fullStatus());
    EXPECT_EQ(modeOf(file.path()), 0644u);
    EXPECT_FALSE(std::filesystem::exists(dir / "status.json.tmp"));
}

TEST(StatusFileWrite, FailedWriteKeepsTheOldFile) {
    ScratchDirectory dir;
    StatusFile file(dir / "status.json");
    file.write(fullStatus());
    const std::string before = readFile(file.path());
    // A directory where the temporary file must go: it cannot be created, even as root.
    std::filesystem::create_directory(dir / "status.json.tmp");

    EXPECT_NO_THROW(file.write(minimalStatus()));

    EXPECT_EQ(readFile(file.path()), before);
    EXPECT_EQ(file.load(), fullStatus());
}

TEST(StatusFileWrite, UnencodableTextKeepsTheOldFileAndDoesNotThrow) {
    ScratchDirectory dir;
    StatusFile file(dir / "status.json");
    file.write(minimalStatus());
    DaemonStatus broken = fullStatus();
    broken.hostname = std::string("home\xff.example.net");

    EXPECT_NO_THROW(file.write(broken));

    EXPECT_EQ(file.load(), minimalStatus());
    EXPECT_FALSE(std::filesystem::exists(dir / "status.json.tmp"));
}

TEST(StatusFileWrite, BlockedDirectoryIsSilent) {
    ScratchDirectory dir;
    writeFile(dir / "blocked", "");
    StatusFile file(dir / "blocked" / "status.json");
    EXPECT_NO_THROW(file.write(fullStatus()));
    EXPECT_EQ(file.load(), std::nullopt);
    EXPECT_EQ(readFile(dir / "blocked"), "");
}

} // namespace
