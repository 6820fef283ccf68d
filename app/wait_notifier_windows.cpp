// Windows: an event object that becomes signalled.
#include "app/wait_notifier.h"

#include <QWinEventNotifier>

WaitNotifier::WaitNotifier(portable::WaitHandle handle, QObject* parent) : QObject(parent)
{
    // The notifier is a child, so it goes with this object.
    auto* notifier = new QWinEventNotifier(handle, this);
    connect(notifier, &QWinEventNotifier::activated, this, &WaitNotifier::Ready);
}
