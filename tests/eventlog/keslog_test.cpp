// The keslog tool, run as a child process against a store written here.
#include "eventlog_fixture.h"

#include <host/eventlog.h>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <sys/stat.h>

namespace eventlog_test {
namespace {

class Keslog : public StoreTest {
  protected:
    result keslog(const std::vector<std::string>& args) {
        return run_program(KESLOG_PATH, args, home());
    }

    // Stores rows with chosen times directly, as a writer on another day would.
    void insert_at(const std::string& time, const std::string& text) {
        ASSERT_TRUE(log_text("setup"));  // makes sure the store exists
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(db_path().c_str(), &db), SQLITE_OK);
        std::string sql =
            "DELETE FROM events WHERE strings = '[\"setup\"]';"
            "INSERT INTO events (source, type, category, event_id, strings, data, time, pid, tid)"
            " VALUES ('Old', 4, 0, 0, json_array('" +
            text + "'), x'', '" + time + "', 1, 1)";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }

    // The first string of each printed record, for --json output.
    static std::vector<std::string> json_lines(const std::string& out) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < out.size()) {
            std::size_t end = out.find('\n', start);
            lines.push_back(out.substr(start, end - start));
            start = end == std::string::npos ? out.size() : end + 1;
        }
        return lines;
    }

    // The texts of the printed records (one string each, --json output).
    std::vector<std::string> printed_texts(const std::vector<std::string>& args) {
        std::vector<std::string> all_args = args;
        all_args.push_back("--json");
        result r = keslog(all_args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        std::vector<std::string> texts;
        for (const std::string& line : json_lines(r.out)) {
            std::size_t at = line.find("\"strings\":[\"");
            if (at == std::string::npos) {
                texts.push_back("?");
                continue;
            }
            at += 12;
            texts.push_back(line.substr(at, line.find('"', at) - at));
        }
        return texts;
    }
};

using Strings = std::vector<std::string>;

TEST_F(Keslog, HumanFormatShowsHeaderStringsAndData) {
    ASSERT_TRUE(log(u"Quenlix", EVENTLOG_WARNING_TYPE, 3, 258,
                    {wide(u"first"), wide(u"line one\r\nline two")}, {0x0A, 0x0B, 0xFF}));
    // Control characters, which could steer the terminal, come out escaped.
    ASSERT_TRUE(log(u"Other", EVENTLOG_ERROR_TYPE, 0, 0, {wide(u"red \x1b[31m bell \a cr\r end")}));
    auto all = rows();
    ASSERT_EQ(all.size(), 2u);
    result r = keslog({});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string ids0 =
        " pid=" + std::to_string(all[0].pid) + " tid=" + std::to_string(all[0].tid);
    const std::string ids1 =
        " pid=" + std::to_string(all[1].pid) + " tid=" + std::to_string(all[1].tid);
    EXPECT_EQ(r.out, all[0].time + " warning Quenlix" + ids0 +
                         " category=3 event=258\n"
                         "  [1] first\n"
                         "  [2] line one\n"
                         "      line two\n"
                         "  data (3 bytes): 0a0bff\n" +
                         all[1].time + " error Other" + ids1 +
                         " category=0 event=0\n"
                         "  red \\x1b[31m bell \\x07 cr\\x0d end\n");
}

TEST_F(Keslog, JsonFormatCarriesEveryField) {
    ASSERT_TRUE(log(u"Quenlix", EVENTLOG_ERROR_TYPE, 7, 0x2345,
                    {wide(u"a \"quoted\" \\ text\n"), wide(u""), wide(u"Grüße")}, {0x00, 0x9C}));
    auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    result r = keslog({"--json"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "{\"id\":1,\"time\":\"" + all[0].time +
                         "\",\"source\":\"Quenlix\",\"type\":\"error\",\"type_code\":1,"
                         "\"category\":7,\"event_id\":9029,"
                         "\"strings\":[\"a \\\"quoted\\\" \\\\ text\\n\",\"\",\"Grüße\"],"
                         "\"data\":\"009c\",\"pid\":" +
                         std::to_string(all[0].pid) + ",\"tid\":" + std::to_string(all[0].tid) +
                         "}\n");
}

TEST_F(Keslog, FiltersBySourceTypeAndCount) {
    ASSERT_TRUE(log(u"A", EVENTLOG_ERROR_TYPE, 0, 0, {wide(u"a-error")}));
    ASSERT_TRUE(log(u"B", EVENTLOG_INFORMATION_TYPE, 0, 0, {wide(u"b-info")}));
    ASSERT_TRUE(log(u"A", EVENTLOG_WARNING_TYPE, 0, 0, {wide(u"a-warning")}));
    ASSERT_TRUE(log(u"C", EVENTLOG_AUDIT_FAILURE, 0, 0, {wide(u"c-audit")}));
    EXPECT_EQ(printed_texts({"--source", "A"}), (Strings{"a-error", "a-warning"}));
    EXPECT_EQ(printed_texts({"-s", "B", "-s", "C"}), (Strings{"b-info", "c-audit"}));
    EXPECT_EQ(printed_texts({"--type", "error"}), (Strings{"a-error"}));
    EXPECT_EQ(printed_texts({"-t", "WARNING,info"}), (Strings{"b-info", "a-warning"}));
    EXPECT_EQ(printed_texts({"--type", "audit-failure"}), (Strings{"c-audit"}));
    EXPECT_EQ(printed_texts({"--type", "2"}), (Strings{"a-warning"}));
    EXPECT_EQ(printed_texts({"--source", "A", "--type", "information"}), Strings{});
    EXPECT_EQ(printed_texts({"--source", "a"}), Strings{});  // names are exact
    // The last N matching records, in order.
    EXPECT_EQ(printed_texts({"-n", "2", "--source", "A"}), (Strings{"a-error", "a-warning"}));
    EXPECT_EQ(printed_texts({"-n", "3"}), (Strings{"b-info", "a-warning", "c-audit"}));
    EXPECT_EQ(printed_texts({"--lines", "0"}), Strings{});
    EXPECT_EQ(printed_texts({"-n", "100"}).size(), 4u);
}

TEST_F(Keslog, TimeFiltersTakeIsoTimesOffsetsAndSpans) {
    insert_at("2024-01-01T00:00:00.000000Z", "midnight");
    insert_at("2024-01-01T12:00:00.000000Z", "noon");
    insert_at("2024-01-01T12:00:00.500000Z", "noon-and-a-half");
    insert_at("2024-01-02T00:00:00.000000Z", "next-day");
    ASSERT_TRUE(log_text("today"));
    EXPECT_EQ(printed_texts({"--since", "2024-01-01T06:00", "--until", "2024-01-01"}), Strings{});
    EXPECT_EQ(printed_texts({"--since", "2024-01-01T06:00", "--until", "2024-01-02"}),
              (Strings{"noon", "noon-and-a-half", "next-day"}));
    EXPECT_EQ(printed_texts({"--until", "2024-01-01 12:00:00"}), (Strings{"midnight", "noon"}));
    EXPECT_EQ(printed_texts({"--since", "2024-01-01T12:00:00.25Z", "--until",
                             "2024-01-01"
                             "T23:59:59Z"}),
              (Strings{"noon-and-a-half"}));
    EXPECT_EQ(printed_texts({"--since", "2024-01-01T14:00:00.400+02:00", "--until",
                             "2024-01-01T07:00:01-0500"}),
              (Strings{"noon-and-a-half"}));
    EXPECT_EQ(printed_texts({"--since", "1h"}), (Strings{"today"}));
    EXPECT_EQ(printed_texts({"--since", "10m", "--until", "now"}), (Strings{"today"}));
    EXPECT_EQ(printed_texts({"--until", "2w"}).size(), 4u);
}

TEST_F(Keslog, BadArgumentsExitWithStatusTwoAndSayWhyAndHelpListsTheOptions) {
    ASSERT_TRUE(log_text("x"));
    const std::vector<std::vector<std::string>> bad = {{"--type", "fatal"},
                                                       {"--type", "error,"},
                                                       {"--since", "yesterday"},
                                                       {"--since", "2024-02-30"},
                                                       {"--until", "2024-01-01T25:00"},
                                                       {"-n", "-1"},
                                                       {"-n", "ten"},
                                                       {"--bogus"},
                                                       {"--source"},
                                                       {"extra"},
                                                       {"--since", "5y"}};
    for (const auto& args : bad) {
        result r = keslog(args);
        EXPECT_EQ(r.exit_code, 2) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_EQ(r.err.rfind("keslog: ", 0), 0u) << r.err;
    }
    result r = keslog({"--help"});
    EXPECT_EQ(r.exit_code, 0);
    for (const char* option :
         {"--source", "--type", "--since", "--until", "--lines", "--follow", "--json", "--db"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST_F(Keslog, DbReadsTheNamedStoreAndAnUnreadableOneExitsWithStatusOne) {
    ASSERT_TRUE(log_text("in the store"));
    ::setenv("KES_HOME", (home() + "/empty").c_str(), 1);
    result r = keslog({"--db", db_path(), "--json"});
    ::setenv("KES_HOME", home().c_str(), 1);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("in the store"), std::string::npos);
    EXPECT_EQ(count(), 1) << "read without a change";
    result missing = keslog({"--db", home() + "/no-such.db"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("no-such.db"), std::string::npos) << missing.err;

    write_file(home() + "/junk.db", std::string(2048, 'j'));
    result junk = keslog({"--db", home() + "/junk.db"});
    EXPECT_EQ(junk.exit_code, 1);
    EXPECT_NE(junk.err.find("junk.db"), std::string::npos) << junk.err;

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((home() + "/other.db").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    result other = keslog({"--db", home() + "/other.db"});
    EXPECT_EQ(other.exit_code, 1);
    EXPECT_NE(other.err.find("events"), std::string::npos) << other.err;
}

// A missing store, and one whose file a writer has made but not yet its
// table, are an empty log; --follow waits through both and keeps its filter.
TEST_F(Keslog, FollowWaitsForAStoreThatIsNotThereYetAndKeepsItsFilter) {
    result r = keslog({});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    pid_t pid = start_program(
        KESLOG_PATH, {"-f", "--json", "--source", "Wanted", "--follow-timeout", "2"}, home());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    write_file(db_path(), "");
    const std::string scratch = home() + "/scratch";  // beside the running follower's files
    ::mkdir(scratch.c_str(), 0700);
    r = run_program(KESLOG_PATH, {}, scratch);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(log(u"Unwanted", EVENTLOG_ERROR_TYPE, 0, 0, {wide(u"no")}));
    ASSERT_TRUE(log(u"Wanted", EVENTLOG_ERROR_TYPE, 0, 0, {wide(u"yes")}));
    r = finish_program(pid, home());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    auto lines = json_lines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_NE(lines[0].find("\"yes\""), std::string::npos);
}

// New records follow the old ones once each; an interrupt ends with status 0.
TEST_F(Keslog, FollowPrintsRecordsAsTheyArriveUntilInterrupted) {
    ASSERT_TRUE(log_text("before"));
    pid_t pid = start_program(KESLOG_PATH, {"--follow", "--json"}, home());
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_TRUE(log_text("during 1"));
    ASSERT_TRUE(log(u"Other", EVENTLOG_ERROR_TYPE, 0, 0, {wide(u"during 2")}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(pid, SIGINT);
    result r = finish_program(pid, home(), 10);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    auto lines = json_lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_NE(lines[0].find("\"before\""), std::string::npos);
    EXPECT_NE(lines[1].find("\"during 1\""), std::string::npos);
    EXPECT_NE(lines[2].find("\"during 2\""), std::string::npos);
}

}  // namespace
}  // namespace eventlog_test
