#pragma once

// What went over a test's bus, in the order the bus daemon routed it: the calls that
// set the service's Mode and the item writes sent to the bridge. The bridge's call
// log orders the item writes among themselves; only the bus sees how they interleave
// with the calls to the service, which run in another process.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

class BusMonitor {
public:
    explicit BusMonitor(const QString& address, const QString& file) : file_(file) {
        process_.setStandardOutputFile(file);
        process_.start("dbus-monitor", {"--address", address});
        // The monitor announces itself with the bus's signals once it listens.
        ready_ = process_.waitForStarted() &&
                 QTest::qWaitFor([&] { return QFile(file).size() > 0; }, 5000);
    }
    ~BusMonitor() {
        process_.terminate();
        process_.waitForFinished();
    }

    bool ready() const { return ready_; }

    // "Mode=2" for every Mode set on the service, "item 13060041=1/3" for every item
    // write the bridge was asked for.
    QStringList events() const {
        QFile file(file_);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList events;
        QString member;
        QStringList arguments;
        auto finish = [&] {
            if (member == "Set" && arguments.size() == 3 && arguments[1] == "\"Mode\"")
                events << "Mode=" + arguments[2];
            else if (member == "iAcpiSetItem" && arguments.size() == 3)
                events << QString("item %1=%2/%3")
                              .arg(arguments[0].toUInt(), 0, 16)
                              .arg(arguments[1].toUInt(), 0, 16)
                              .arg(arguments[2].toUInt());
            member.clear();
            arguments.clear();
        };
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
            if (!line.startsWith(' ')) {
                finish();
                if (line.startsWith("method call"))
                    member = line.section("member=", 1).trimmed();
                continue;
            }
            // "   uint32 319160385", "   string \"Mode\"", "   variant       int16 2"
            if (!member.isEmpty())
                arguments << line.simplified().section(' ', -1);
        }
        finish();
        return events;
    }

private:
    QString file_;
    QProcess process_;
    bool ready_ = false;
};

// Whether `expected` occurs in `events` in this order, other events allowed between.
inline bool inOrder(const QStringList& events, const QStringList& expected) {
    int next = 0;
    for (const QString& event : events)
        if (next < expected.size() && event == expected[next])
            ++next;
    return next == expected.size();
}
