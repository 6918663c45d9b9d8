#include "app/qsingleapplication.h"

#include "platform/instanceguard.h"

QSingleApplication::QSingleApplication(int &argc, char **argv)
    : QApplication(argc, argv)
    , guard(std::make_unique<InstanceGuard>(QStringLiteral("6c62e725-7d5a-4464-8f29-425316ac48e8")))
{
}

QSingleApplication::~QSingleApplication() = default;

bool QSingleApplication::lock()
{
    return guard->tryLock();
}
