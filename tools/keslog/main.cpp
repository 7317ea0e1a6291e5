// keslog: prints the host's event log, oldest record first, newest last.
//
// It reads the store's SQLite database directly and read-only, so it never
// disturbs the processes that write it. docs/eventlog.md describes the table
// and the options; `keslog --help` summarises them.
#include <host/store.h>

#include <sqlite3.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <getopt.h>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitStore = 1;  // the store cannot be read
constexpr int kExitUsage = 2;  // bad arguments

constexpr long kPollMilliseconds = 200;
// At most this many bytes of raw data in the human format; --json has all.
constexpr std::size_t kHumanDataLimit = 256;

const char kUsage[] =
    "Usage: keslog [OPTION]...\n"
    "Print the event log, oldest record first and newest last.\n"
    "\n"
    "  -s, --source NAME    only records of this source (repeatable)\n"
    "  -t, --type TYPES     only these types, comma-separated: error, warning,\n"
    "                       information (info), success, audit-success,\n"
    "                       audit-failure, or a number (repeatable)\n"
    "      --since TIME     only records at or after TIME\n"
    "      --until TIME     only records at or before TIME\n"
    "  -n, --lines N        only the last N matching records\n"
    "  -f, --follow         keep printing new records until interrupted\n"
    "      --json           one JSON object per record and line\n"
    "      --db PATH        read PATH instead of the store's eventlog.db\n"
    "  -h, --help           show this help and exit\n"
    "\n"
    "TIME is UTC unless it carries an offset: 2024-05-01, 2024-05-01T12:30,\n"
    "'2024-05-01 12:30:15.250', 2024-05-01T14:30:00+02:00, or 'now'; or a span\n"
    "back from now: 30s, 10m, 2h, 7d, 1w.\n"
    "\n"
    "Exit status: 0 on success (also for an empty log), 1 when the log cannot\n"
    "be read, 2 for bad arguments.\n";

volatile std::sig_atomic_t g_interrupted = 0;

void on_signal(int) {
    g_interrupted = 1;
}

struct options {
    std::vector<std::string> sources;
    std::vector<int> types;
    std::string since;  // in the stored time format; empty: no bound
    std::string until;
    long long lines = -1;  // -1: all
    bool follow = false;
    bool json = false;
    std::string db;
    bool db_given = false;
    double follow_timeout = -1;  // seconds; negative: until interrupted
};

struct type_name {
    int code;
    const char* name;
};
const type_name kTypeNames[] = {{0, "success"},     {1, "error"},         {2, "warning"},
                                {4, "information"}, {8, "audit-success"}, {16, "audit-failure"}};

std::string type_text(int code) {
    for (const type_name& t : kTypeNames) {
        if (t.code == code)
            return t.name;
    }
    return std::to_string(code);
}

// ---- Argument parsing -----------------------------------------------------

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool parse_count(const char* text, long long max, long long& out) {
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > max)
        return false;
    out = value;
    return true;
}

bool parse_type(const std::string& word, int& code) {
    std::string w = lower(word);
    if (w == "info")
        w = "information";
    for (const type_name& t : kTypeNames) {
        if (w == t.name) {
            code = t.code;
            return true;
        }
    }
    long long value = 0;
    if (!parse_count(w.c_str(), 0xFFFF, value))
        return false;
    code = static_cast<int>(value);
    return true;
}

bool parse_types(const std::string& list, std::vector<int>& out) {
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = list.find(',', start);
        int code = 0;
        if (!parse_type(list.substr(start, comma - start), code))
            return false;
        out.push_back(code);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

std::string format_time(std::time_t seconds, long micros) {
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  micros);
    return text;
}

// Reads exactly `width` digits at text[pos].
bool digits(const std::string& text, std::size_t& pos, int width, int& out) {
    out = 0;
    for (int i = 0; i < width; ++i, ++pos) {
        if (pos >= text.size() || text[pos] < '0' || text[pos] > '9')
            return false;
        out = out * 10 + (text[pos] - '0');
    }
    return true;
}

// "30s", "10m", "2h", "7d", "1w": that long before `now`.
bool parse_relative(const std::string& text, const timespec& now, std::string& out) {
    if (text.size() < 2)
        return false;
    long long amount = 0;
    if (!parse_count(text.substr(0, text.size() - 1).c_str(), 100LL * 366 * 86400, amount)) {
        return false;
    }
    long long unit = 0;
    switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        case 'w':
            unit = 7 * 86400;
            break;
        default:
            return false;
    }
    out = format_time(now.tv_sec - static_cast<std::time_t>(amount * unit), now.tv_nsec / 1000);
    return true;
}

// YYYY-MM-DD[(T| )HH:MM[:SS[.fraction]]][Z|+HH:MM|-HH:MM|+HHMM|+HH]
bool parse_iso(const std::string& text, std::string& out) {
    std::size_t pos = 0;
    int year, month, day, hour = 0, minute = 0, second = 0;
    long micros = 0;
    if (!digits(text, pos, 4, year) || pos >= text.size() || text[pos++] != '-' ||
        !digits(text, pos, 2, month) || pos >= text.size() || text[pos++] != '-' ||
        !digits(text, pos, 2, day)) {
        return false;
    }
    if (pos < text.size() && (text[pos] == 'T' || text[pos] == 't' || text[pos] == ' ')) {
        ++pos;
        if (!digits(text, pos, 2, hour) || pos >= text.size() || text[pos++] != ':' ||
            !digits(text, pos, 2, minute)) {
            return false;
        }
        if (pos < text.size() && text[pos] == ':') {
            ++pos;
            if (!digits(text, pos, 2, second))
                return false;
            if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
                ++pos;
                int scale = 100000, count = 0;
                for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++count) {
                    micros += (text[pos] - '0') * scale;
                    scale /= 10;
                }
                if (count == 0)
                    return false;
            }
        }
    }
    long offset = 0;
    if (pos < text.size() && (text[pos] == 'Z' || text[pos] == 'z')) {
        ++pos;
    } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        int sign = text[pos++] == '-' ? -1 : 1;
        int oh = 0, om = 0;
        if (!digits(text, pos, 2, oh))
            return false;
        if (pos < text.size() && text[pos] == ':')
            ++pos;
        if (pos < text.size() && !digits(text, pos, 2, om))
            return false;
        if (oh > 23 || om > 59)
            return false;
        offset = sign * (oh * 3600L + om * 60L);
    }
    if (pos != text.size())
        return false;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    std::time_t seconds = timegm(&parts);
    if (parts.tm_mday != day || parts.tm_mon != month - 1)
        return false;  // 31 April etc.
    out = format_time(seconds - offset, micros);
    return true;
}

bool parse_time(const char* arg, std::string& out) {
    std::string text = arg;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (lower(text) == "now") {
        out = format_time(now.tv_sec, now.tv_nsec / 1000);
        return true;
    }
    return parse_relative(text, now, out) || parse_iso(text, out);
}

enum long_only { kSince = 1000, kUntil, kJson, kDb, kFollowTimeout };

// Returns -1 to go on, or the exit status.
int parse_arguments(int argc, char** argv, options& opt) {
    static const option kLong[] = {{"source", required_argument, nullptr, 's'},
                                   {"type", required_argument, nullptr, 't'},
                                   {"since", required_argument, nullptr, kSince},
                                   {"until", required_argument, nullptr, kUntil},
                                   {"lines", required_argument, nullptr, 'n'},
                                   {"follow", no_argument, nullptr, 'f'},
                                   {"json", no_argument, nullptr, kJson},
                                   {"db", required_argument, nullptr, kDb},
                                   {"help", no_argument, nullptr, 'h'},
                                   // Not in the help: ends --follow after this many seconds (for
                                   // tests and scripts that must not hang).
                                   {"follow-timeout", required_argument, nullptr, kFollowTimeout},
                                   {nullptr, 0, nullptr, 0}};
    opterr = 0;
    int c;
    auto bad = [&](const std::string& message) {
        std::fprintf(stderr, "keslog: %s\nTry 'keslog --help'.\n", message.c_str());
        return kExitUsage;
    };
    while ((c = getopt_long(argc, argv, ":s:t:n:fh", kLong, nullptr)) != -1) {
        switch (c) {
            case 's':
                opt.sources.push_back(optarg);
                break;
            case 't':
                if (!parse_types(optarg, opt.types)) {
                    return bad(std::string("unknown event type in '") + optarg + "'");
                }
                break;
            case kSince:
                if (!parse_time(optarg, opt.since)) {
                    return bad(std::string("cannot read the time '") + optarg + "'");
                }
                break;
            case kUntil:
                if (!parse_time(optarg, opt.until)) {
                    return bad(std::string("cannot read the time '") + optarg + "'");
                }
                break;
            case 'n':
                if (!parse_count(optarg, 1LL << 62, opt.lines)) {
                    return bad(std::string("the count must be a whole number >= 0, not '") +
                               optarg + "'");
                }
                break;
            case 'f':
                opt.follow = true;
                break;
            case kJson:
                opt.json = true;
                break;
            case kDb:
                opt.db = optarg;
                opt.db_given = true;
                break;
            case kFollowTimeout: {
                char* end = nullptr;
                opt.follow_timeout = std::strtod(optarg, &end);
                if (*optarg == '\0' || *end != '\0' || !(opt.follow_timeout >= 0)) {
                    return bad(std::string("bad follow timeout '") + optarg + "'");
                }
                break;
            }
            case 'h':
                std::fputs(kUsage, stdout);
                return kExitOk;
            case ':':
                return bad(std::string("option '") + argv[optind - 1] + "' needs a value");
            default:
                return bad(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc)
        return bad(std::string("unexpected argument '") + argv[optind] + "'");
    return -1;
}

// ---- Output ---------------------------------------------------------------

// Decodes one UTF-8 sequence at text[i], advancing i; ill-formed input gives
// U+FFFD for one byte, so that output is always valid UTF-8.
char32_t next_code_point(const std::string& text, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
    if (extra < 0 || lead > 0xF4) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= text.size() || (byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += static_cast<std::size_t>(extra) + 1;
    return cp;
}

void put_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void put_hex_escape(std::string& out, const char* prefix, char32_t cp, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%0*x", prefix, width, static_cast<unsigned>(cp));
    out += text;
}

void put_json_string(std::string& out, const std::string& text) {
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = next_code_point(text, i);
        switch (cp) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (cp < 0x20 || cp == 0x7F) {
                    put_hex_escape(out, "\\u", cp, 4);
                } else {
                    put_utf8(out, cp);
                }
        }
    }
    out.push_back('"');
}

// Appends text for a terminal: line breaks (LF or CR LF) continue on a new
// line indented by `indent`; other control characters, which could steer the
// terminal, appear as \xHH.
void put_human_text(std::string& out, const std::string& text, const std::string& indent) {
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        char32_t cp = next_code_point(text, i);
        if (cp == '\n') {
            out.push_back('\n');
            out += indent;
        } else if (cp == '\t') {
            out.push_back('\t');
        } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
            put_hex_escape(out, "\\x", cp, 2);
        } else {
            put_utf8(out, cp);
        }
    }
}

std::string hex(const unsigned char* data, std::size_t size) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kHex[data[i] >> 4]);
        out.push_back(kHex[data[i] & 0xF]);
    }
    return out;
}

struct event_row {
    sqlite3_int64 id = 0;
    std::string source;
    int type = 0;
    sqlite3_int64 category = 0;
    sqlite3_int64 event_id = 0;
    std::vector<std::string> strings;
    std::vector<unsigned char> data;
    std::string time;
    sqlite3_int64 pid = 0;
    sqlite3_int64 tid = 0;
};

std::string format_json(const event_row& e) {
    std::string out = "{\"id\":" + std::to_string(e.id) + ",\"time\":";
    put_json_string(out, e.time);
    out += ",\"source\":";
    put_json_string(out, e.source);
    out += ",\"type\":";
    put_json_string(out, type_text(e.type));
    out += ",\"type_code\":" + std::to_string(e.type);
    out += ",\"category\":" + std::to_string(e.category);
    out += ",\"event_id\":" + std::to_string(e.event_id);
    out += ",\"strings\":[";
    for (std::size_t i = 0; i < e.strings.size(); ++i) {
        if (i > 0)
            out.push_back(',');
        put_json_string(out, e.strings[i]);
    }
    out += "],\"data\":\"" + hex(e.data.data(), e.data.size()) + "\"";
    out += ",\"pid\":" + std::to_string(e.pid) + ",\"tid\":" + std::to_string(e.tid) + "}\n";
    return out;
}

// One header line, then the strings (numbered when there are several) and
// the raw data, each indented.
std::string format_human(const event_row& e) {
    std::string out = e.time + " " + type_text(e.type) + " ";
    put_human_text(out, e.source, "");
    out += " pid=" + std::to_string(e.pid) + " tid=" + std::to_string(e.tid) +
           " category=" + std::to_string(e.category) + " event=" + std::to_string(e.event_id) +
           "\n";
    for (std::size_t i = 0; i < e.strings.size(); ++i) {
        std::string label = e.strings.size() == 1 ? "" : "[" + std::to_string(i + 1) + "] ";
        out += "  " + label;
        put_human_text(out, e.strings[i], "  " + std::string(label.size(), ' '));
        out.push_back('\n');
    }
    if (!e.data.empty()) {
        std::size_t shown = std::min(e.data.size(), kHumanDataLimit);
        out += "  data (" + std::to_string(e.data.size()) + " bytes): " + hex(e.data.data(), shown);
        if (shown < e.data.size())
            out += "...";
        out.push_back('\n');
    }
    return out;
}

// ---- Reading the store ------------------------------------------------------

struct db_closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct statement_finalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using database = std::unique_ptr<sqlite3, db_closer>;
using statement = std::unique_ptr<sqlite3_stmt, statement_finalizer>;

class reader {
  public:
    reader(const options& opt, const std::string& path) : m_opt(opt), m_path(path) {}

    enum class opened { ok, not_ready, failed };

    // Opens the store read-only and prepares the queries; `failed` with a
    // message on standard error when that fails. The store's own file may
    // exist a moment before its table does (a writer is creating it): that
    // is `not_ready`, an empty log. A file named with --db must hold the table.
    opened open() {
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        m_db.reset(db);
        if (rc != SQLITE_OK) {
            complain("cannot open");
            return opened::failed;
        }
        sqlite3_busy_timeout(db, 2000);
        if (!m_opt.db_given && lacks_events_table())
            return opened::not_ready;
        return prepare_all() ? opened::ok : opened::failed;
    }

    bool prepare_all() {
        return prepare(select_sql(false), m_initial) && prepare(select_sql(true), m_newer) &&
               prepare("SELECT coalesce(max(id), 0) FROM events", m_max_id) &&
               prepare(
                   "SELECT value FROM json_each(CASE WHEN json_valid(?1) THEN ?1"
                   " ELSE json_array(?1) END)",
                   m_strings) &&
               prepare("BEGIN", m_begin) && prepare("COMMIT", m_commit);
    }

    // Prints the matching records (the last N with -n) and remembers the
    // newest record of the table for `print_newer`.
    bool print_initial() {
        if (!exec(m_begin.get()))
            return complain("cannot read");
        int n = bind_filters(m_initial.get());
        if (m_opt.lines >= 0)
            sqlite3_bind_int64(m_initial.get(), n, m_opt.lines);
        bool ok = print_rows(m_initial.get());
        ok = ok && sqlite3_step(m_max_id.get()) == SQLITE_ROW;
        if (ok)
            m_last_id = sqlite3_column_int64(m_max_id.get(), 0);
        sqlite3_reset(m_max_id.get());
        exec(m_commit.get());
        return ok || complain("cannot read");
    }

    // Prints the matching records added since the last call.
    bool print_newer() {
        int n = bind_filters(m_newer.get());
        sqlite3_bind_int64(m_newer.get(), n, m_last_id);
        return print_rows(m_newer.get()) || complain("cannot read");
    }

  private:
    // True only when the database answers and has no events table; a file
    // that is not a database is left to prepare_all to report.
    bool lacks_events_table() {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(
                m_db.get(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'events'",
                -1, &s, nullptr) != SQLITE_OK) {
            return false;
        }
        statement query(s);
        return sqlite3_step(s) == SQLITE_DONE;
    }

    std::string select_sql(bool newer) const {
        std::string where = " WHERE 1";
        if (!m_opt.sources.empty())
            where += " AND source IN (" + marks(m_opt.sources.size()) + ")";
        if (!m_opt.types.empty())
            where += " AND type IN (" + marks(m_opt.types.size()) + ")";
        if (!m_opt.since.empty())
            where += " AND time >= ?";
        if (!m_opt.until.empty())
            where += " AND time <= ?";
        const std::string columns =
            "SELECT id, source, type, category, event_id, strings, data, time, pid, tid"
            " FROM events";
        if (newer)
            return columns + where + " AND id > ? ORDER BY id";
        if (m_opt.lines < 0)
            return columns + where + " ORDER BY id";
        return "SELECT * FROM (" + columns + where + " ORDER BY id DESC LIMIT ?) ORDER BY id";
    }

    static std::string marks(std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i)
            text += i == 0 ? "?" : ", ?";
        return text;
    }

    // Binds the filter values in the order select_sql placed them; returns
    // the next parameter index.
    int bind_filters(sqlite3_stmt* s) const {
        int n = 1;
        for (const std::string& source : m_opt.sources) {
            sqlite3_bind_text(s, n++, source.c_str(), -1, SQLITE_STATIC);
        }
        for (int type : m_opt.types)
            sqlite3_bind_int(s, n++, type);
        if (!m_opt.since.empty())
            sqlite3_bind_text(s, n++, m_opt.since.c_str(), -1, SQLITE_STATIC);
        if (!m_opt.until.empty())
            sqlite3_bind_text(s, n++, m_opt.until.c_str(), -1, SQLITE_STATIC);
        return n;
    }

    bool print_rows(sqlite3_stmt* s) {
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            event_row e = read_row(s);
            m_last_id = std::max(m_last_id, e.id);
            std::string line = m_opt.json ? format_json(e) : format_human(e);
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
        sqlite3_reset(s);
        std::fflush(stdout);
        return rc == SQLITE_DONE;
    }

    static std::string text_column(sqlite3_stmt* s, int column) {
        const unsigned char* text = sqlite3_column_text(s, column);
        return text == nullptr
                   ? std::string()
                   : std::string(reinterpret_cast<const char*>(text),
                                 static_cast<std::size_t>(sqlite3_column_bytes(s, column)));
    }

    event_row read_row(sqlite3_stmt* s) {
        event_row e;
        e.id = sqlite3_column_int64(s, 0);
        e.source = text_column(s, 1);
        e.type = sqlite3_column_int(s, 2);
        e.category = sqlite3_column_int64(s, 3);
        e.event_id = sqlite3_column_int64(s, 4);
        std::string strings = text_column(s, 5);
        const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(s, 6));
        e.data.assign(data, data + sqlite3_column_bytes(s, 6));
        e.time = text_column(s, 7);
        e.pid = sqlite3_column_int64(s, 8);
        e.tid = sqlite3_column_int64(s, 9);
        sqlite3_bind_text(m_strings.get(), 1, strings.data(), static_cast<int>(strings.size()),
                          SQLITE_STATIC);
        while (sqlite3_step(m_strings.get()) == SQLITE_ROW) {
            e.strings.push_back(text_column(m_strings.get(), 0));
        }
        sqlite3_reset(m_strings.get());
        return e;
    }

    bool prepare(const std::string& sql, statement& out) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(m_db.get(), sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
            return complain("cannot read");
        }
        out.reset(s);
        return true;
    }

    static bool exec(sqlite3_stmt* s) {
        int rc = sqlite3_step(s);
        sqlite3_reset(s);
        return rc == SQLITE_DONE;
    }

    bool complain(const char* what) const {
        const char* why = m_db ? sqlite3_errmsg(m_db.get()) : "out of memory";
        std::fprintf(stderr, "keslog: %s the event log %s: %s\n", what, m_path.c_str(), why);
        return false;
    }

    const options& m_opt;
    std::string m_path;
    database m_db;
    statement m_initial, m_newer, m_max_id, m_strings, m_begin, m_commit;
    sqlite3_int64 m_last_id = 0;
};

bool file_exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

double monotonic_seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Sleeps one poll interval; false once the follow should end.
bool wait_for_poll(const options& opt, double started) {
    if (g_interrupted)
        return false;
    double remaining =
        opt.follow_timeout < 0 ? 1e9 : opt.follow_timeout - (monotonic_seconds() - started);
    if (remaining <= 0)
        return false;
    double pause = std::min(remaining, kPollMilliseconds / 1000.0);
    timespec interval{
        static_cast<std::time_t>(pause),
        static_cast<long>((pause - static_cast<double>(static_cast<long>(pause))) * 1e9)};
    nanosleep(&interval, nullptr);  // a signal cuts it short
    return !g_interrupted;
}

void install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int run(const options& opt) {
    std::string path = opt.db;
    if (!opt.db_given) {
        path = host::store_path("eventlog.db");
        if (path.empty()) {
            std::fprintf(stderr,
                         "keslog: no store directory (set KES_HOME, XDG_STATE_HOME or HOME)\n");
            return kExitStore;
        }
    }
    const double started = monotonic_seconds();
    if (opt.follow)
        install_signal_handlers();
    // A store that does not exist yet, or not yet with its table, is an
    // empty log; a file named on the command line must exist.
    reader log(opt, path);
    for (;;) {
        if (file_exists(path)) {
            const reader::opened state = log.open();
            if (state == reader::opened::failed)
                return kExitStore;
            if (state == reader::opened::ok)
                break;
        } else if (opt.db_given) {
            std::fprintf(stderr, "keslog: cannot open the event log %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return kExitStore;
        }
        if (!opt.follow || !wait_for_poll(opt, started))
            return kExitOk;
    }
    if (!log.print_initial())
        return kExitStore;
    while (opt.follow && wait_for_poll(opt, started)) {
        if (!log.print_newer())
            return kExitStore;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    options opt;
    int status = parse_arguments(argc, argv, opt);
    if (status >= 0)
        return status;
    return run(opt);
}
