#pragma once

#include <QString>
#include <QTimer>

#include <memory>

class GatewayManager;
class GatewayCollectable;

namespace prometheus {
class Exposer;
}

// Serves the gateway's counters at /metrics in the Prometheus text format. The relay counts
// nothing for it: a scrape reads the counters the gateway keeps anyway, in the scraping thread.
class MetricsExporter
{
public:
    MetricsExporter(const GatewayManager &manager, const QString &instance);
    ~MetricsExporter();

    // "[ADDRESS:]PORT"; a port alone listens on 127.0.0.1. False, with the reason, when it
    // cannot listen there.
    bool start(const QString &endpoint, QString *error);
    // Starts, and says so in the log; a port it cannot listen on is tried again every 5 s, like
    // the client server's, its reason logged once. Nothing for an empty endpoint.
    void serve(const QString &endpoint);

private:
    QTimer retry;
    QString retried;
    QString failure;
    std::shared_ptr<GatewayCollectable> collectable;
    std::unique_ptr<prometheus::Exposer> exposer;
};
