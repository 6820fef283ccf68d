#include "app/wait_notifier.h"

#ifdef _WIN32
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

WaitNotifier::WaitNotifier(portable::WaitHandle handle, QObject* parent) : QObject(parent)
{
    // The notifier is a child, so it goes with this object.
#ifdef _WIN32
    auto* notifier = new QWinEventNotifier(handle, this);
    connect(notifier, &QWinEventNotifier::activated, this, &WaitNotifier::Ready);
#else
    auto* notifier = new QSocketNotifier(handle, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &WaitNotifier::Ready);
#endif
}
