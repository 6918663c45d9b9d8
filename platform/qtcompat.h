#pragma once

// The few places where Qt 5.15 and Qt 6 differ, so that the rest of the sources is the same for
// both.
#include <QSysInfo>
#include <QTextStream>
#include <QtGlobal>

namespace Compat {

// The result argument of a native event filter.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
using NativeEventResult = long;
#else
using NativeEventResult = qintptr;
#endif

// What a label shows; Qt 5 asks for the value explicitly.
template<typename Label>
auto pixmapOf(const Label *label)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    return label->pixmap(Qt::ReturnByValue);
#else
    return label->pixmap();
#endif
}

inline void setUtf8(QTextStream &stream)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    stream.setCodec("UTF-8");
#else
    stream.setEncoding(QStringConverter::Utf8);
#endif
}

// Qt 5's number for the running Windows version, or -1 where Qt has none (Qt 6, other systems).
inline int windowsVersionNumber()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) && defined(Q_OS_WIN)
    return int(QSysInfo::WindowsVersion);
#else
    return -1;
#endif
}

}
