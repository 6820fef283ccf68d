// Linux: a descriptor that turns readable.
#include "app/wait_notifier.h"

#include <QSocketNotifier>

WaitNotifier::WaitNotifier(portable::WaitHandle handle, QObject* parent) : QObject(parent)
{
    // The notifier is a child, so it goes with this object.
    auto* notifier = new QSocketNotifier(handle, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &WaitNotifier::Ready);
}
