#include "app/qsingleapplication.h"

#include "platform/instanceguard.h"

QSingleApplication::QSingleApplication(int &argc, char **argv, const QString &guardKey)
    : QApplication(argc, argv)
    , guard(std::make_unique<InstanceGuard>(guardKey))
{
}

QSingleApplication::~QSingleApplication() = default;

bool QSingleApplication::lock()
{
    return guard->tryLock();
}

QString QSingleApplication::lockError() const
{
    return guard->error();
}
