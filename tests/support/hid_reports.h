// The reports the simulated virtual HID device received, in a short form for comparisons.
#pragma once

#include "win32sim/virtual_hid.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

namespace test_support {

inline QString hex2(int b) { return QString::number(b, 16).rightJustified(2, '0'); }

// The reports from number `from` on, as "k<modifiers>:<key>" and "m<buttons>:<wheel>". Each must
// be a whole keyboard or relative-mouse report that the device accepted, with one key at most, no
// motion and nothing after it; any other fails the test.
inline QStringList reports(size_t from = 0)
{
    QStringList out;
    const std::vector<win32sim::VirtualHidReport> log = win32sim::virtualHidReports();
    for (size_t i = from; i < log.size(); ++i) {
        const std::vector<uint8_t>& r = log[i].bytes;
        EXPECT_TRUE(log[i].accepted) << "report " << i;
        EXPECT_FALSE(log[i].outputReport) << "report " << i;
        if (r.size() != 65 || r[0] != 0x40) {
            ADD_FAILURE() << "report " << i << " is no control report";
            continue;
        }
        const size_t end = size_t(2 + r[1]);
        for (size_t j = end; j < r.size(); ++j)
            EXPECT_EQ(r[j], 0) << "report " << i << " byte " << j;
        if (r[2] == 7 && r[1] == 9) {
            EXPECT_EQ(r[4], 0) << "report " << i;
            for (size_t j = 6; j < end; ++j)
                EXPECT_EQ(r[j], 0) << "report " << i << " key slot " << j - 5;
            out << "k" + hex2(r[3]) + ":" + hex2(r[5]);
        } else if (r[2] == 4 && r[1] == 5) {
            EXPECT_EQ(r[4], 0) << "report " << i;
            EXPECT_EQ(r[5], 0) << "report " << i;
            out << "m" + hex2(r[3]) + ":" + hex2(r[6]);
        } else {
            ADD_FAILURE() << "report " << i << " has id " << int(r[2]) << " and length " << int(r[1]);
        }
    }
    return out;
}

inline size_t reportCount() { return win32sim::virtualHidReports().size(); }

} // namespace test_support
