// Port list entries and the numbers that the "COM%d" parse and CPortwire share.
#include <gtest/gtest.h>

#include <cstdio>

#include "port_list.h"

namespace {

TEST(PortList, AddedPathsComeFirstInOrderWithStableNumbers) {
    ClearAddedPortPaths();
    AddPortPath(QStringLiteral("/dev/test-b"));
    AddPortPath(QStringLiteral("/dev/test-a"));
    AddPortPath(QStringLiteral("/dev/test-b"));  // a duplicate is listed once
    const std::vector<PortEntry> first = ListPorts();
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first[0].devicePath, QStringLiteral("/dev/test-b"));
    EXPECT_EQ(first[1].devicePath, QStringLiteral("/dev/test-a"));
    EXPECT_TRUE(first.size() < 3 || first[2].devicePath != QStringLiteral("/dev/test-b"));

    const std::vector<PortEntry> second = ListPorts();
    ASSERT_EQ(second.size(), first.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(second[i].number, first[i].number);
        EXPECT_EQ(second[i].text, first[i].text);
    }
}

TEST(PortList, EveryEntryParsesAsComNumberAboveZeroAndResolves) {
    AddPortPath(QStringLiteral("/dev/test-c"));
    AddPortPath(QStringLiteral("rfc2217://[fe80::1]:4001"));
    for (const PortEntry& e : ListPorts()) {
        const QByteArray text = e.text.toLatin1();
        int n = 0;
        ASSERT_EQ(std::sscanf(text.constData(), "COM%d", &n), 1) << text.constData();
        EXPECT_GT(n, 0);
        EXPECT_EQ(n, e.number);
        EXPECT_TRUE(e.text.startsWith(QStringLiteral("COM%1 %2").arg(n).arg(e.devicePath)));
        EXPECT_EQ(ResolvePortName(QStringLiteral("COM%1").arg(n).toLatin1().constData()),
                  e.devicePath);
    }
}

TEST(PortList, NumbersAreUniqueAndNeverReused) {
    const int a = PortNumberForPath(QStringLiteral("/dev/unique-1"));
    const int b = PortNumberForPath(QStringLiteral("/dev/unique-2"));
    EXPECT_NE(a, b);
    ClearAddedPortPaths();
    EXPECT_EQ(PortNumberForPath(QStringLiteral("/dev/unique-1")), a);
    const int c = PortNumberForPath(QStringLiteral("/dev/unique-3"));
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
}

TEST(PortList, ResolveRejectsWhatIsNotAKnownNumber) {
    for (const char* name : {"COM0", "COM-1", "COM", "LPT1", "", "COM999999"}) {
        EXPECT_TRUE(ResolvePortName(name).isEmpty()) << name;
    }
    EXPECT_TRUE(ResolvePortName(nullptr).isEmpty());
}

TEST(PortList, NetworkNamesAreTakenApartOrRefused) {
    struct Row {
        const char* name;
        bool ok;
        bool rfc2217 = false;
        const char* host = "";
        int port = 0;
    };
    for (const Row& r : {Row{"tcp://10.0.0.7:4001", true, false, "10.0.0.7", 4001},
                         Row{"RFC2217://plant-gw.local:2217", true, true, "plant-gw.local", 2217},
                         Row{"tcp://[fe80::1]:65535", true, false, "fe80::1", 65535},
                         Row{"tcp://host", false}, Row{"tcp://host:", false}, Row{"tcp://:4001", false},
                         Row{"tcp://host:0", false}, Row{"tcp://host:65536", false}, Row{"tcp://host:40x1", false},
                         Row{"tcp://fe80::1:4001", false}, Row{"tcp://user@host:1", false},
                         Row{"tcp://host:1/x", false}, Row{"/dev/ttyUSB0", false}}) {
        NetworkPortName n;
        ASSERT_EQ(ParseNetworkPortName(QString::fromLatin1(r.name), n), r.ok) << r.name;
        if (r.ok) {
            EXPECT_EQ(n.rfc2217, r.rfc2217) << r.name;
            EXPECT_EQ(n.host, QString::fromLatin1(r.host)) << r.name;
            EXPECT_EQ(n.port, r.port) << r.name;
        }
    }
}

}  // namespace
