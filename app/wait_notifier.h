// The event loop's side of a portable::WaitHandle: Ready is emitted, on the thread that made the notifier,
// each time the handle is ready (a readable descriptor on Linux, a signalled event on Windows). Whoever
// listens must take what is waiting (read the input, the events) or it is emitted again at once.
#pragma once

#include "portable/wait.h"

#include <QObject>

class WaitNotifier : public QObject {
    Q_OBJECT
public:
    explicit WaitNotifier(portable::WaitHandle handle, QObject* parent = nullptr);

signals:
    void Ready();
};
