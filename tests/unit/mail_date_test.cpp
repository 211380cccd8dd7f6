#include <gtest/gtest.h>

#include "mail/mail_date.h"

namespace kv {
namespace {

struct DateCase {
    const char *text;
    bool ok;
    int year = 0, month = 0, day = 0, dayOfWeek = 0, hour = 0, minute = 0, second = 0, zone = 0;
};

TEST(HeaderDate, ReadsWhatMailCarries) {
    const DateCase cases[] = {
        {"Tue, 03 Mar 2026 14:05:09 +0100", true, 2026, 3, 3, 2, 14, 5, 9, 60},
        {"3 Mar 2026 14:05 -0930", true, 2026, 3, 3, 2, 14, 5, 0, -570},
        // The weekday is computed: a wrong one in the text does not carry over.
        {"Mon, 03 Mar 2026 14:05:09 +0100", true, 2026, 3, 3, 2, 14, 5, 9, 60},
        {"Fri, 29 Feb 2008 23:59:60 GMT", true, 2008, 2, 29, 5, 23, 59, 59, 0},
        {"Sat, 1 jan 00 00:00:00 EST", true, 2000, 1, 1, 6, 0, 0, 0, -300},
        {"Wed, 31 Dec 99 12:00:00 PDT (Pacific)", true, 1999, 12, 31, 5, 12, 0, 0, -420},
        {"Thu,  1 Jan 105 00:00:00 +0000", true, 2005, 1, 1, 6, 0, 0, 0, 0},
        {"Tue,(comment) 03 Mar 2026 14:05:09 Z", true, 2026, 3, 3, 2, 14, 5, 9, 0},
        {"Thu, 29 Feb 2001 10:00:00 +0000", false},
        {"Tue, 31 Apr 2026 10:00:00 +0000", false},
        {"Tue, 03 Foo 2026 14:05:09 +0100", false},
        {"Tue, 03 Mar 2026 24:00:00 +0100", false},
        {"Tue, 03 Mar 2026 14:60:00 +0100", false},
        {"Tue, 03 Mar 2026 14:05:09 +0160", false},
        {"Tue, 03 Mar 2026 14:05:09", false},
        {"Tue, 03 Mar 2026 14.05.09 +0100", false},
        {"2026/12/06 21:00", false},
        {"", false},
        {"Tue, 0 Mar 2026 14:05:09 +0100", false},
        {"Tue, 03 Mar 99999 14:05:09 +0100", false},
    };
    for (const DateCase &c : cases) {
        pal::LocalTime t{};
        ASSERT_EQ(ParseHeaderDate(c.text, t), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(
            std::vector<int>({t.year, t.month, t.day, t.dayOfWeek, t.hour, t.minute, t.second, t.utcOffsetMinutes}),
            std::vector<int>({c.year, c.month, c.day, c.dayOfWeek, c.hour, c.minute, c.second, c.zone}))
            << c.text;
    }
}

} // namespace
} // namespace kv
