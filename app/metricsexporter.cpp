#include "app/metricsexporter.h"

#include "VqLog/vqlog.h"
#include "app/version.h"
#include "gateway/gatewaymanager.h"
#include "gateway/listenendpoint.h"
#include "platform/socketdescriptor.h"

#include <QTcpServer>

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>

#include <exception>
#include <limits>
#include <utility>

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

// The gateway's counters as metric families, made afresh at each scrape.
class GatewayCollectable : public prometheus::Collectable
{
public:
    GatewayCollectable(const GatewayManager &manager, const QString &instance)
        : manager(manager)
    {
        if (!instance.isEmpty())
            instanceLabels.push_back({"instance_name", instance.toStdString()});
    }

    std::vector<MetricFamily> Collect() const override
    {
        const GatewayManager::Counters now = manager.counters();
        std::vector<MetricFamily> families{
                gauge("vqgateway_device_connected", "1 while the device link is up",
                      now.deviceConnected ? 1 : 0),
                gauge("vqgateway_clients", "Client applications connected", now.clients),
                counter("vqgateway_bytes_from_device_total", "Bytes received from the device",
                        now.bytesFromDevice),
                counter("vqgateway_bytes_to_device_total", "Bytes sent to the device",
                        now.bytesToDevice),
                counter("vqgateway_device_connects_total", "Device links that came up",
                        now.deviceConnects),
                counter("vqgateway_device_errors_total", "Device link errors", now.deviceErrors),
                counter("vqgateway_client_connections_total", "Clients and observers accepted",
                        now.clientConnections),
                counter("vqgateway_clients_refused_total", "Connections closed at once",
                        {{{{"reason", "limit"}}, now.refusedAtLimit},
                         {{{"reason", "not_allowed"}}, now.refusedNotAllowed},
                         {{{"reason", "device_down"}}, now.refusedDeviceDown}}),
                counter("vqgateway_clients_dropped_total", "Clients disconnected by the gateway",
                        {{{{"reason", "stalled"}}, now.droppedAsStalled}}),
                counter("vqgateway_flow_holds_total",
                        "Times one side was held back because the other lagged",
                        {{{{"side", "device"}}, now.deviceHolds},
                         {{{"side", "clients"}}, now.clientHolds}}),
                counter("vqgateway_reply_timeouts_total", "Routed replies that timed out",
                        now.replyTimeouts),
                counter("vqgateway_bytes_dropped_device_down_total",
                        "Client bytes dropped while the device link was down",
                        now.bytesDroppedDeviceDown),
                gauge("vqgateway_device_state_since_seconds",
                      "Unix time since which the device link is up, or down",
                      quint64(now.deviceStateSinceMs / 1000)),
                gauge("vqgateway_device_failed_attempts",
                      "Attempts to connect the device that failed since it was last up or down",
                      now.failedAttemptsSince)};
        families.push_back(counter("vqgateway_turns_total",
                                   "Turns clients were given at the device", now.turns));
        families.push_back(counter("vqgateway_lock_grants_total", "Locks clients were granted",
                                   now.lockGrants));
        families.push_back(counter("vqgateway_lock_expiries_total",
                                   "Locks that ended because their client was idle",
                                   now.lockExpiries));
        families.push_back(counter("vqgateway_event_lines_total",
                                   "Device lines that matched the event pattern", now.eventLines));
        families.push_back(waitHistogram(now));
        families.push_back(family("vqgateway_build_info", "The running program's version",
                                  MetricType::Gauge, {{{{"version", productVersion}}, 1}}));
        if (now.observers >= 0)
            families.push_back(gauge("vqgateway_observers", "Observers connected", now.observers));
        return families;
    }

private:
    MetricFamily waitHistogram(const GatewayManager::Counters &now) const
    {
        ClientMetric metric;
        metric.label = instanceLabels;
        quint64 cumulative = 0;
        for (std::size_t bound = 0; bound < now.waitCounts.size(); ++bound) {
            cumulative += now.waitCounts[bound];
            metric.histogram.bucket.push_back({cumulative,
                                               bound < WaitHistogram::boundsMs.size()
                                                       ? WaitHistogram::boundsMs[bound] / 1000.0
                                                       : std::numeric_limits<double>::infinity()});
        }
        metric.histogram.sample_count = cumulative;
        metric.histogram.sample_sum = now.waitSumMs / 1000.0;
        return {"vqgateway_turn_wait_seconds",
                "How long client lines waited in the gateway while the device was shared in turns "
                "or locks",
                MetricType::Histogram,
                {metric}};
    }

    using Sample = std::pair<std::vector<ClientMetric::Label>, quint64>;

    MetricFamily family(const char *name, const char *help, MetricType type,
                        const std::vector<Sample> &samples) const
    {
        MetricFamily family{name, help, type, {}};
        for (const Sample &sample : samples) {
            ClientMetric metric;
            metric.label = sample.first;
            metric.label.insert(metric.label.end(), instanceLabels.begin(), instanceLabels.end());
            metric.counter.value = metric.gauge.value = double(sample.second);
            family.metric.push_back(metric);
        }
        return family;
    }
    MetricFamily counter(const char *name, const char *help,
                         const std::vector<Sample> &samples) const
    {
        return family(name, help, MetricType::Counter, samples);
    }
    MetricFamily counter(const char *name, const char *help, quint64 value) const
    {
        return counter(name, help, std::vector<Sample>{{{}, value}});
    }
    MetricFamily gauge(const char *name, const char *help, quint64 value) const
    {
        return family(name, help, MetricType::Gauge, {{{}, value}});
    }

    const GatewayManager &manager;
    std::vector<ClientMetric::Label> instanceLabels;
};

MetricsExporter::MetricsExporter(const GatewayManager &manager, const QString &instance)
    : collectable(std::make_shared<GatewayCollectable>(manager, instance))
{
    retry.setSingleShot(true);
    QObject::connect(&retry, &QTimer::timeout, &retry, [this] { serve(retried); });
}

MetricsExporter::~MetricsExporter()
{
    // The library's threads look whether they are to stop only between waits on their sockets,
    // of up to two seconds each; with the sockets shut down they stop at once.
    if (exposer)
        for (const int port : exposer->GetListeningPorts())
            Platform::shutDownSocketsOnPort(quint16(port));
}

bool MetricsExporter::start(const QString &endpoint, QString *error)
{
    QString address;
    quint16 port = 0;
    if (!parseListenEndpoint(endpoint, &address, &port)) {
        *error = QStringLiteral("not [ADDRESS:]PORT");
        return false;
    }
    if (address.isEmpty())
        address = QStringLiteral("127.0.0.1");
    // The library's own failure says nothing of the cause: a socket of Qt's tells it first.
    QTcpServer probe;
    if (!probe.listen(QHostAddress(address), port)) {
        switch (probe.serverError()) {
        case QAbstractSocket::AddressInUseError:
            *error = QStringLiteral("address in use");
            break;
        case QAbstractSocket::SocketAccessError:
            *error = QStringLiteral("permission denied");
            break;
        case QAbstractSocket::SocketAddressNotAvailableError:
            *error = QStringLiteral("no such local address");
            break;
        default:
            *error = QStringLiteral("cannot listen");
        }
        return false;
    }
    probe.close();
    if (address.contains(QLatin1Char(':')))
        address = QLatin1Char('[') + address + QLatin1Char(']');
    try {
        // The threads take connections in turn, each letting go of one that asks for nothing
        // within a second: connections left open and silent delay a scrape by about a second
        // for every eight of them, and cannot keep it out.
        exposer = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
                "listening_ports", QStringLiteral("%1:%2").arg(address).arg(port).toStdString(),
                "num_threads", "8", "request_timeout_ms", "1000"});
    } catch (const std::exception &) {
        *error = QStringLiteral("cannot listen");
        return false;
    }
    exposer->RegisterCollectable(collectable);
    return true;
}

void MetricsExporter::serve(const QString &endpoint)
{
    if (endpoint.isEmpty())
        return;
    QString error;
    if (start(endpoint, &error)) {
        LOG_INFO << "Serving metrics on" << endpoint;
        return;
    }
    if (error != failure)
        LOG_ERROR << qUtf8Printable(QStringLiteral("Could not serve metrics on %1: %2, retrying "
                                                   "every 5 s")
                                            .arg(endpoint, error));
    failure = error;
    retry.start(5000);
    retried = endpoint;
}
