#include "cli/watch.h"

#include "bus/poller.h"
#include "cli/feeds.h"
#include "cli/format.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/output.h"
#include "samples/csv.h"
#include "samples/fromreply.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>

namespace cli {

namespace {

using bus::Backoff;

QString timeText(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).toString(QStringLiteral("hh:mm:ss"));
}

class Watch
{
public:
    Watch(const Invocation &invocation, Output &output, bus::Link &link)
        : m_invocation(invocation), m_output(output), m_link(link), m_poller(link),
          m_feeds(invocation.feed, output, invocation.port)
    {
    }

    int run()
    {
        QString error;
        if (!m_feeds.start(&error)) {
            m_output.message(QStringLiteral("--mqtt: ") + error);
            return exitUsage;
        }
        if (m_invocation.csv)
            m_output.resultBytes(samples::csv::header());
        m_poller.setAddresses(m_invocation.scanAddresses);
        m_poller.setPeriod(m_invocation.pollInterval);

        QEventLoop loop;
        QObject::connect(&m_poller, &bus::Poller::polled, &loop,
                         [this](int index, const samples::Sample &sample) {
                             if (sample.isGap())
                                 m_allAnswered = false;
                             row(index, sample, false);
                         });
        QObject::connect(&m_poller, &bus::Poller::skipped, &loop, [this](int index) {
            m_allAnswered = false;
            const bus::ModuleStatus &module = m_poller.modules().at(std::size_t(index));
            row(index, samples::noReplySample(module.address, QDateTime::currentMSecsSinceEpoch()),
                true);
        });
        QObject::connect(&m_poller, &bus::Poller::cycleFinished, &loop, [this](qint64 cycle) {
            if (m_invocation.count > 0 && cycle + 1 >= m_invocation.count)
                m_poller.stop();
        });
        QObject::connect(&m_poller, &bus::Poller::stopped, &loop, &QEventLoop::quit);
        QObject::connect(&Interrupt::instance(), &Interrupt::triggered, &m_poller,
                         &bus::Poller::stop);
        if (Interrupt::instance().requested())
            return exitInterrupted;
        m_poller.start();
        loop.exec();
        // The readings still waiting for the broker get their few seconds.
        bool fed = false;
        m_feeds.finish([&] {
            fed = true;
            loop.quit();
        });
        if (!fed)
            loop.exec();

        if (m_link.isLost()) {
            m_output.message(m_link.lostMessage());
            return exitPort;
        }
        // Readings that never reached the broker are a failure as much as a module that did not
        // answer: a script must not take them for delivered.
        return m_allAnswered && m_feeds.allDelivered() ? exitDone : exitFailed;
    }

private:
    void row(int index, const samples::Sample &sample, bool offline)
    {
        const bus::ModuleStatus &module = m_poller.modules().at(std::size_t(index));
        const QString status = offline          ? QStringLiteral("offline")
                               : sample.isGap() ? QStringLiteral("no reply")
                                                : QStringLiteral("ok");
        const feed::Reading reading =
            m_feeds.reading(module.address, module.serialNumber,
                            module.model ? typeName(module.model) : QString(), sample, status);
        m_feeds.deliver(reading);
        const QStringList flags = samples::flagNames(reading.flags);
        if (m_invocation.feed.influx)
            return;
        if (m_invocation.csv) {
            QByteArray line = samples::csv::row(sample);
            // The file's status column; an offline module was not asked, which is not a gap.
            if (offline)
                line = line.left(line.lastIndexOf(',') + 1) + QByteArrayLiteral("offline\n");
            m_output.resultBytes(line);
            return;
        }
        if (m_output.json()) {
            QJsonObject object{{QStringLiteral("port"), m_invocation.port},
                               {QStringLiteral("speed"), m_link.speed()},
                               {QStringLiteral("cycle"), m_poller.cycle()},
                               {QStringLiteral("address"), int(module.address)},
                               {QStringLiteral("time_utc"),
                                QDateTime::fromMSecsSinceEpoch(sample.msecsSinceEpoch, Qt::UTC)
                                    .toString(Qt::ISODateWithMs)}};
            addMeasurement(object, sample);
            object.insert(QStringLiteral("status"), status);
            object.insert(QStringLiteral("flags"), QJsonArray::fromStringList(flags));
            object.insert(QStringLiteral("offline_until_utc"),
                          offline ? QJsonValue(QDateTime::fromMSecsSinceEpoch(
                                                   module.offlineUntilMsecs, Qt::UTC)
                                                   .toString(Qt::ISODateWithMs))
                                  : QJsonValue());
            m_output.result(object);
            return;
        }
        QString text = QStringLiteral("%1  address %2  ")
                           .arg(timeText(sample.msecsSinceEpoch))
                           .arg(int(module.address), 3);
        if (offline)
            text += QStringLiteral("offline until %1").arg(timeText(module.offlineUntilMsecs));
        else
            text += measurementText(sample);
        if (!flags.isEmpty())
            text += QStringLiteral("  flags %1").arg(flags.join(QLatin1Char(',')));
        m_output.result(text);
    }

    const Invocation &m_invocation;
    Output &m_output;
    bus::Link &m_link;
    bus::Poller m_poller;
    Feeds m_feeds;
    bool m_allAnswered = true;
};

} // namespace

int watchBus(const Invocation &invocation, Output &output, bus::Link &link)
{
    return Watch(invocation, output, link).run();
}

} // namespace cli
