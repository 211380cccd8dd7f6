#include "mail/mail_date.h"

#include <cctype>
#include <string>
#include <vector>

#include "runtime/kvstring.h"

namespace kv {

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// 0 = Sunday (Sakamoto's method).
int DayOfWeek(int y, int m, int d) {
    static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) --y;
    return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

bool Number(std::string_view s, int &out) {
    if (s.empty() || s.size() > 4) return false;
    int n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    out = n;
    return true;
}

int Month(std::string_view s) {
    static const char *const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i)
        if (EqualsNoCase(s, names[i])) return i + 1;
    return 0;
}

bool Zone(std::string_view s, int &minutes) {
    if (s.size() == 5 && (s[0] == '+' || s[0] == '-')) {
        int hh, mm;
        if (!Number(s.substr(1, 2), hh) || !Number(s.substr(3, 2), mm) || mm > 59) return false;
        minutes = (hh * 60 + mm) * (s[0] == '-' ? -1 : 1);
        return true;
    }
    static const struct {
        const char *name;
        int hours;
    } named[] = {{"UT", 0},  {"UTC", 0}, {"GMT", 0},  {"Z", 0},   {"EST", -5}, {"EDT", -4},
                 {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    for (const auto &z : named)
        if (EqualsNoCase(s, z.name)) {
            minutes = z.hours * 60;
            return true;
        }
    // Other military letters carry no reliable meaning: "-0000", an unknown zone.
    if (s.size() == 1 && std::isalpha((unsigned char)s[0])) {
        minutes = 0;
        return true;
    }
    return false;
}

// Words of the text without comments; commas and white space separate them.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t i = 0, depth = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '(') {
            ++depth;
            ++i;
        } else if (c == ')') {
            if (depth) --depth;
            ++i;
        } else if (depth || c == ',' || std::isspace((unsigned char)c)) {
            ++i;
        } else {
            size_t start = i;
            while (i < text.size() && text[i] != ',' && text[i] != '(' && !std::isspace((unsigned char)text[i])) ++i;
            words.push_back(text.substr(start, i - start));
        }
    }
    return words;
}

} // namespace

bool ParseHeaderDate(std::string_view text, pal::LocalTime &out) {
    std::vector<std::string_view> w = Words(text);
    size_t i = 0;
    if (i < w.size() && !w[i].empty() && std::isalpha((unsigned char)w[i][0]) && !Month(w[i])) ++i; // weekday
    if (w.size() < i + 5) return false;
    int day, year;
    int month = Month(w[i + 1]);
    if (!Number(w[i], day) || !month || !Number(w[i + 2], year)) return false;
    if (w[i + 2].size() == 2) year += year < 50 ? 2000 : 1900;
    else if (w[i + 2].size() == 3) year += 1900;
    if (year < 1601 || year > 9999 || day < 1 || day > DaysInMonth(year, month)) return false;

    std::string_view time = w[i + 3];
    int hour, minute, second = 0;
    size_t c1 = time.find(':');
    if (c1 == std::string_view::npos) return false;
    size_t c2 = time.find(':', c1 + 1);
    if (!Number(time.substr(0, c1), hour) ||
        !Number(time.substr(c1 + 1, c2 == std::string_view::npos ? std::string_view::npos : c2 - c1 - 1), minute))
        return false;
    if (c2 != std::string_view::npos && !Number(time.substr(c2 + 1), second)) return false;
    if (hour > 23 || minute > 59 || second > 60) return false;
    if (second == 60) second = 59; // a leap second has no place in a calendar time

    int zone;
    if (!Zone(w[i + 4], zone)) return false;

    out.year = year;
    out.month = month;
    out.day = day;
    out.dayOfWeek = DayOfWeek(year, month, day);
    out.hour = hour;
    out.minute = minute;
    out.second = second;
    out.millisecond = 0;
    out.utcOffsetMinutes = zone;
    return true;
}

} // namespace kv
